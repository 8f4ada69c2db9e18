// SPDX-License-Identifier: MIT
// The library frame (open count, last error, trace sink) and port device
// access (selection, the open probe byte, enumeration).
#include "link_fixture.h"

#include <tuple>
#include <utility>

namespace {

using FrameTest = LinkTest;
struct PortTest : LinkTest {
    // Opens, closes and handles open now of one port.
    static std::tuple<uint32_t, uint32_t, int32_t> open_counts(int port)
    {
        const simport_stats stats = port_stats(port);
        return {stats.opens, stats.closes, stats.open_handles};
    }
};

TEST_F(FrameTest, LoadStateIsWhatHostsSeeFirst)
{
    uint16_t address = 0x1234;
    EXPECT_EQ(recorded_error(&address), (error_record{ERR_NONE, "No error"}));
    EXPECT_EQ(address, 0);
    EXPECT_EQ(spifns_get_last_error(nullptr, nullptr), ERR_NONE);
    EXPECT_EQ(link_state.line_byte, 0x10);
    EXPECT_EQ(link_state.shift_period, 1u);
    EXPECT_EQ(link_state.port_number, 1);
    EXPECT_EQ(link_state.port_handle, nullptr);
    EXPECT_EQ(link_state.spimul_value, -1);
    EXPECT_EQ(spifns_get_version(), 0x103);
}

TEST_F(FrameTest, NestedInitAndCloseCloseThePortOnlyAtZero)
{
    simport_attach(1, nullptr, nullptr);
    ASSERT_EQ(set("SPIPORT", "1"), 0);
    EXPECT_EQ(spifns_init(), 0);
    EXPECT_EQ(spifns_init(), 0);
    spifns_close();
    EXPECT_NE(link_state.port_handle, nullptr);
    EXPECT_STREQ(spifns_getvar("SPIPORT"), "1");
    spifns_close();
    EXPECT_EQ(link_state.port_handle, nullptr);
    EXPECT_STREQ(spifns_getvar("SPIPORT"), "0");
    EXPECT_EQ(port_stats(1).open_handles, 0);

    // Below zero nothing is closed; init only brings the count back.
    ASSERT_EQ(set("SPIPORT", "1"), 0);
    spifns_close();
    EXPECT_EQ(link_state.open_count, -1);
    EXPECT_NE(link_state.port_handle, nullptr);
    spifns_init();
    EXPECT_EQ(link_state.open_count, 0);
    EXPECT_NE(link_state.port_handle, nullptr);
    EXPECT_EQ(spifns_get_version(), 0x103);
}

TEST_F(FrameTest, LastErrorSurvivesLaterSuccess)
{
    seq_record read = transfer(SEQ_READ, 0, 0, nullptr);
    EXPECT_EQ(spifns_sequence(&read, 1), 1);
    simport_attach(2, nullptr, nullptr);
    EXPECT_EQ(set("SPIPORT", "2"), 0);
    EXPECT_EQ(spifns_halvane_xap_stopped(), 0);
    EXPECT_EQ(recorded_error(), (error_record{ERR_NO_PORT, "No LPT port selected"}));
}

TEST_F(FrameTest, TraceGoesOnlyToARegisteredSinkAndStaysInItsBuffer)
{
    spifns_chip_select(1);
    EXPECT_TRUE(traced().empty());
    EXPECT_EQ(link_state.trace_buffer[0], '\0'); // nothing formatted without a sink

    capture_trace();
    const std::string long_text(400, 'x');
    trace("%s\n", long_text.c_str());
    ASSERT_EQ(traced().size(), 1u);
    EXPECT_EQ(traced()[0], std::string(255, 'x'));

    spifns_set_debug_callback(nullptr);
    spifns_chip_select(2);
    EXPECT_EQ(traced().size(), 1u);
}

TEST_F(PortTest, SelectionOpensProbesAndResetsThePeriod)
{
    simport_attach(4, nullptr, nullptr);
    link_state.shift_period = 9;
    ASSERT_TRUE(select_port(4));
    EXPECT_EQ(link_state.port_number, 4);
    EXPECT_EQ(link_state.shift_period, 1u);
    const simport_stats stats = port_stats(4);
    EXPECT_EQ(stats.opens, 1u);
    EXPECT_EQ(stats.writes, 1u);
    EXPECT_EQ(stats.last_write, 0xCBu);

    // Selecting the open port again closes it first (the open is exclusive).
    link_state.shift_period = 9;
    ASSERT_TRUE(select_port(4));
    EXPECT_EQ(link_state.shift_period, 1u);
    EXPECT_EQ(open_counts(4), std::make_tuple(2u, 1u, 1));
}

TEST_F(PortTest, FailedSelectionLeavesNoPortOpen)
{
    // With nothing open before, port_number keeps its value.
    EXPECT_FALSE(select_port(6));
    EXPECT_EQ(link_state.port_number, 1);
    EXPECT_EQ(link_state.port_handle, nullptr);

    simport_attach(2, nullptr, nullptr);
    ASSERT_TRUE(select_port(2));
    link_state.shift_period = 5;
    EXPECT_FALSE(select_port(6));
    EXPECT_EQ(link_state.port_number, 0);
    EXPECT_EQ(link_state.port_handle, nullptr);
    EXPECT_EQ(link_state.shift_period, 5u);
    EXPECT_EQ(port_stats(2).open_handles, 0);
}

TEST_F(PortTest, DeviceRefusingTheProbeByteCountsAsAbsentAndIsClosed)
{
    simport_attach(3, nullptr, nullptr);
    simport_set_faults(3, SIMPORT_REFUSE_WRITE);
    EXPECT_FALSE(select_port(3));
    EXPECT_EQ(open_counts(3), std::make_tuple(1u, 1u, 0));
}

TEST_F(PortTest, OtherPlatformsOpenNothing)
{
    simport_attach(1, nullptr, nullptr);
    simport_set_platform_id(1);
    EXPECT_FALSE(select_port(1));
    const simport_stats stats = port_stats(1);
    EXPECT_EQ(stats.opens + stats.open_failures, 0u);
}

TEST_F(PortTest, PortNumbersFormatIntoDevicePathsWithoutLeadingZeros)
{
    simport_attach(12, nullptr, nullptr);
    EXPECT_TRUE(select_port(12));
    EXPECT_FALSE(select_port(-12));
    EXPECT_FALSE(select_port(0));
}

using port_list = std::vector<std::pair<int, std::string>>;

void SPIFNS_CALL collect_port(int port, const char *name, void *context)
{
    static_cast<port_list *>(context)->emplace_back(port, name);
}

TEST_F(PortTest, EnumerationWithoutDevicesReportsOnlyTheFirstEntry)
{
    port_list ports;
    spifns_enumerate_ports(collect_port, &ports);
    EXPECT_EQ(ports, (port_list{{1, "LPT1"}}));
}

TEST_F(PortTest, EnumerationProbesTwoToSixteenAndSkipsTheOpenPort)
{
    for (int port : {2, 3, 5, 16, 17})
        simport_attach(port, nullptr, nullptr);
    simport_set_faults(5, SIMPORT_REFUSE_WRITE);
    ASSERT_TRUE(select_port(3));

    port_list ports;
    spifns_enumerate_ports(collect_port, &ports);
    EXPECT_EQ(ports, (port_list{{3, "LPT1"}, {2, "LPT2"}, {16, "LPT16"}}));
    // The open port is neither used nor changed; probes are all closed.
    EXPECT_EQ(link_state.port_number, 3);
    EXPECT_NE(link_state.port_handle, nullptr);
    for (int port : {2, 16})
        EXPECT_EQ(port_stats(port).open_handles, 0) << port;
    EXPECT_EQ(port_stats(17).opens, 0u);

    close_port();
    ports.clear();
    spifns_enumerate_ports(collect_port, &ports);
    EXPECT_EQ(ports.front(), (std::pair<int, std::string>{0, "LPT1"}));
}

TEST_F(PortTest, EnumerationWithoutCallbackProbesNothing)
{
    simport_attach(2, nullptr, nullptr);
    spifns_enumerate_ports(nullptr, nullptr);
    EXPECT_EQ(port_stats(2).opens, 0u);
}

} // namespace
