// SPDX-License-Identifier: MIT
// The variable table, text conversions, variable assignment and the
// SPISLOWER command.
#include "link_fixture.h"

#include <clocale>

#include "cannot_run.h"
#include "load_replies.h"
#include "settings/settings.h"
#include "settings/textconv.h"

namespace {

using SettingsTest = LinkTest;

TEST_F(SettingsTest, VariableTableIsConstantAndComplete)
{
    const var_entry *table = nullptr;
    int count = 0;
    spifns_getvarlist(&table, &count);
    ASSERT_EQ(count, 8);
    for (int i = 0; i < count; i++) {
        EXPECT_STREQ(table[i].name, VARIABLE_TABLE[i].name);
        EXPECT_STREQ(table[i].default_text, VARIABLE_TABLE[i].default_text) << i;
        EXPECT_EQ(table[i].flags, VARIABLE_TABLE[i].flags) << i;
    }
    const var_entry *again = nullptr;
    spifns_getvarlist(&again, nullptr); // either pointer may be left out
    EXPECT_EQ(again, table);
    spifns_getvarlist(nullptr, &count);
    EXPECT_EQ(count, 8);
}

TEST_F(SettingsTest, ReadsAtLoadAndForUnknownNames)
{
    for (const auto &[name, reply] : LOAD_REPLIES)
        EXPECT_STREQ(spifns_getvar(name), reply) << name;
    for (const char *name : {"SPICMDBITS", "SPICMDREADBITS", "SPICMDWRITEBITS", "NOSUCH", "SPIPORTX", ""})
        EXPECT_STREQ(spifns_getvar(name), "") << name;
    EXPECT_EQ(spifns_getvar(nullptr), spifns_getvar("NOSUCH"));
}

TEST_F(SettingsTest, EachVariableHasItsOwnReplyBuffer)
{
    const char *port = spifns_getvar("SPIPORT");
    const char *mul = spifns_getvar("SPIMUL");
    EXPECT_NE(port, mul);
    EXPECT_STREQ(port, "1");
    link_state.port_number = 7;
    EXPECT_STREQ(port, "1"); // unchanged until SPIPORT is read again
    EXPECT_STREQ(spifns_getvar("SPIPORT"), "7");
    EXPECT_STREQ(port, "7");
}

TEST_F(SettingsTest, IntegerTextsReadLikeStrtolClampedToThirtyTwoBits)
{
    const std::pair<const char *, int32_t> cases[] = {
        {"0x10", 16},         {"0X1f", 31},          {"010", 8},           {"12abc", 12},
        {"abc", 0},           {"", 0},               {"  -7", -7},         {"+5", 5},
        {"08", 0},            {"0x", 0},             {"0xg", 0},           {"2147483647", 2147483647},
        {"2147483648", INT32_MAX}, {"99999999999999999999", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN}, {"0xFFFFFFFF", INT32_MAX}, {"-0x80000000", INT32_MIN},
        {"\t\n 42", 42},      {"- 3", 0},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(text_to_int32(text), expected) << '"' << text << '"';
}

TEST_F(SettingsTest, IntegerVariablesTakeTheirValues)
{
    ASSERT_EQ(set("SPICMDBITS", "0x80"), 0);
    ASSERT_EQ(set("spicmdreadbits", "0x40"), 0);
    EXPECT_EQ(link_state.write_cmd_bits, 0x80);
    EXPECT_EQ(link_state.read_cmd_bits, 0x40);
    ASSERT_EQ(set("SPICMDWRITEBITS", "99999999999"), 0);
    EXPECT_EQ(link_state.write_cmd_bits, INT32_MAX);
    EXPECT_STREQ(spifns_getvar("SPICMDBITS"), "");
    ASSERT_EQ(set("NOSUCHVAR", "1"), 0); // accepted silently
}

TEST_F(SettingsTest, ClockSetsTheRoundedPeriod)
{
    capture_trace();
    const std::pair<const char *, uint32_t> cases[] = {
        {"172.41", 1}, {"100", 2}, {"57.47", 3}, {"50", 3}, {"10", 17}, {"1", 172},
        {"0.5", 345},  {"1000", 1}, {"-5", 1},   {"-1e-300", 1}, {"1e999", 1}, {"100junk", 2},
    };
    for (const auto &[text, period] : cases) {
        traced().clear();
        ASSERT_EQ(set("SPICLOCK", text), 0) << text;
        EXPECT_EQ(link_state.shift_period, period) << text;
        EXPECT_EQ(traced(), (std::vector<std::string>{"Delays set to " + std::to_string(period) + "\n"}));
    }
}

TEST_F(SettingsTest, ClockReadsBackFromThePeriod)
{
    const std::pair<uint32_t, const char *> cases[] = {
        {1, "172.410000"}, {2, "86.205000"}, {3, "57.470000"}, {4, "43.102500"}, {5, "34.482000"}, {47, "3.668298"},
    };
    for (const auto &[period, text] : cases) {
        link_state.shift_period = period;
        EXPECT_STREQ(spifns_getvar("SPICLOCK"), text);
    }
}

TEST_F(SettingsTest, ZeroClockAndUnservableClocksAreRefused)
{
    capture_trace();
    link_state.shift_period = 6;
    for (const char *text : {"0", "-0", "0.0", "abc", "", "1e-9", "2e-8"}) {
        EXPECT_EQ(set("SPICLOCK", text), 1) << text;
        EXPECT_EQ(link_state.shift_period, 6u) << text;
    }
    EXPECT_TRUE(traced().empty());
    EXPECT_EQ(last_error(), ERR_NONE);
    // The slowest clock the waveform engine can serve is still accepted.
    ASSERT_EQ(set("SPICLOCK", "0.000003"), 0);
    EXPECT_EQ(link_state.shift_period, 57470000u);
}

TEST_F(SettingsTest, ShiftPeriodZeroRaisedOutOfRangeRefused)
{
    capture_trace();
    ASSERT_EQ(set("SPISHIFTPERIOD", "5"), 0);
    EXPECT_EQ(traced(), (std::vector<std::string>{"Delays set to 5\n"}));
    EXPECT_STREQ(spifns_getvar("SPICLOCK"), "34.482000");
    ASSERT_EQ(set("SPISHIFTPERIOD", "0"), 0);
    EXPECT_EQ(link_state.shift_period, 1u);
    ASSERT_EQ(set("SPISHIFTPERIOD", std::to_string(SHIFT_PERIOD_MAX).c_str()), 0);
    EXPECT_EQ(link_state.shift_period, SHIFT_PERIOD_MAX);
    traced().clear();
    for (const char *text : {"-1", "-2147483648", "61356676", "0xFFFFFFFF"}) {
        EXPECT_EQ(set("SPISHIFTPERIOD", text), 1) << text;
        EXPECT_EQ(link_state.shift_period, SHIFT_PERIOD_MAX) << text;
    }
    EXPECT_TRUE(traced().empty());
}

TEST_F(SettingsTest, MaxClockStoresTenCharactersOfItsSinglePrecisionText)
{
    const std::pair<const char *, const char *> cases[] = {
        {"1000", "1000.00000"}, {"99.99", "99.989998"}, {"0.5", "1.000000"}, {"-3", "1.000000"},
        {"abc", "1.000000"},    {"123456789012", "1234567905"}, {"3.4028235e38", "3402823466"},
        {"1e39", "inf"},        {"1e999", "inf"},
    };
    for (const auto &[text, stored] : cases) {
        ASSERT_EQ(set("SPIMAXCLOCK", text), 0) << text;
        EXPECT_STREQ(spifns_getvar("SPIMAXCLOCK"), stored) << text;
    }
}

TEST_F(SettingsTest, TextsKeepTheirDecimalPointInACommaLocale)
{
    const std::string saved = setlocale(LC_ALL, nullptr);
    if (setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        CANNOT_RUN("de_DE.UTF-8 missing: scripts/setup.sh generates it");
    EXPECT_STREQ(localeconv()->decimal_point, ",");
    EXPECT_EQ(text_to_double("99.99"), 99.99);
    EXPECT_EQ(text_to_double("99,99"), 99.0);
    EXPECT_EQ(set("SPIMAXCLOCK", "99.99"), 0);
    EXPECT_STREQ(spifns_getvar("SPIMAXCLOCK"), "99.989998");
    EXPECT_EQ(set("SPICLOCK", "57.47"), 0);
    EXPECT_EQ(link_state.shift_period, 3u);
    EXPECT_STREQ(spifns_getvar("SPICLOCK"), "57.470000");
    setlocale(LC_ALL, saved.c_str());
}

TEST_F(SettingsTest, DoubleTextsReadOnlyDecimalNumbers)
{
    EXPECT_EQ(text_to_double("  -2.5e2x"), -250.0);
    EXPECT_EQ(text_to_double(".5"), 0.5);
    EXPECT_EQ(text_to_double("5."), 5.0);
    EXPECT_EQ(text_to_double("1e"), 1.0);
    EXPECT_EQ(text_to_double("."), 0.0);
    EXPECT_EQ(text_to_double("inf"), 0.0);
    EXPECT_EQ(text_to_double("nan"), 0.0);
    EXPECT_EQ(text_to_double("0x10"), 0.0);
    const std::string long_text = "1" + std::string(500, '0') + "e-500";
    EXPECT_EQ(text_to_double(long_text.c_str()), 1.0);
}

TEST_F(SettingsTest, SlowerStepsUpToFortySevenThenStops)
{
    capture_trace();
    const uint32_t steps[] = {2, 3, 4, 6, 8, 11, 14, 18, 23, 29, 37, 47};
    for (uint32_t expected : steps) {
        EXPECT_EQ(spifns_command("spislower"), 0);
        EXPECT_EQ(link_state.shift_period, expected);
        EXPECT_EQ(traced().back(), "Delays now " + std::to_string(expected) + "\n");
    }
    EXPECT_EQ(spifns_command("SPISLOWER"), 0);
    EXPECT_EQ(link_state.shift_period, 47u);
    EXPECT_EQ(traced().size(), 12u);
    link_state.shift_period = 39;
    spifns_command("SPISLOWER");
    EXPECT_EQ(link_state.shift_period, 49u);
    EXPECT_EQ(spifns_command("SPIFASTER"), 0);
    EXPECT_EQ(spifns_command(nullptr), 0);
    EXPECT_EQ(link_state.shift_period, 49u);
}

TEST_F(SettingsTest, PortSelectionSucceedsOrPairsTheEarlierCodeWithItsMessage)
{
    capture_trace();
    simport_attach(3, nullptr, nullptr);
    link_state.shift_period = 8;
    ASSERT_EQ(set("SPIPORT", "3"), 0);
    EXPECT_STREQ(spifns_getvar("SPIPORT"), "3");
    EXPECT_STREQ(spifns_getvar("SPISHIFTPERIOD"), "1");
    EXPECT_TRUE(traced().empty());

    EXPECT_EQ(set("SPIPORT", "4"), 1);
    EXPECT_EQ(recorded_error(), (error_record{ERR_NONE, "Couldn't find LPT port"}));
    EXPECT_STREQ(spifns_getvar("SPIPORT"), "0");
    EXPECT_EQ(link_state.port_handle, nullptr);
}

TEST_F(SettingsTest, MissingNameOrValueFails)
{
    EXPECT_EQ(set(nullptr, "1"), 1);
    EXPECT_EQ(set("SPICMDBITS", nullptr), 1);
    EXPECT_EQ(link_state.read_cmd_bits, 0);
}

} // namespace
