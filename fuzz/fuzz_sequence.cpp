// SPDX-License-Identifier: MIT
// Fuzz target: spifns_sequence with arbitrary record arrays (valid pointers,
// arbitrary codes, addresses, counts and texts) against the simulated board,
// with faults injected into the allocations, the control calls, the port
// devices and the chips.
//
// Input (binary; bytes past the end read as 0):
//   6 header bytes
//     0  flags: 1 select port 1 first, 2 trace sink, 4 multiplexed board,
//        8 board idle level 1, 0x10 chip 0 stopped, 0x20 spifns_chip_select(1)
//     1  waveform allocation that fails (0xFF: none)
//     2  control call on port 1 that fails (0xFF: none)
//     3  port 1 device faults (SIMPORT_*), set after the first selection
//     4  chip 0 faults (SIM_FAULT_*), 5  chip 1 faults
//   then up to MAX_RECORDS records, each starting with a kind byte:
//     kind & 3 == 0 or 1: read or write; address (2 bytes, little-endian),
//        count byte: words = count & 0x3F, 0x40 gives a null buffer
//     kind & 3 == 2: set variable; a name byte (below 0xF0: a table name,
//        case changed by its upper bits; 0xFE: null; otherwise a text) and a
//        value (length byte then text; length 0xFF: null); texts are a
//        length byte and that many bytes
//     kind & 3 == 3: a record with a 32-bit command (little-endian) and
//        zeroed fields
// Ports: 1 has the board, 2 a driver that only fills status, 4 refuses the
// one-byte write.
//
// Checked: result 0 or 1; records never written; read buffers written only
// within their counts (guard words on both sides) and write buffers never;
// the last error a defined code and message; no waveform buffer left
// allocated; no stray device handle; trace lines terminated and ending in a
// newline; the period within the engine's range.
//
// Bound: transfers are at most 63 words, and inputs whose SPISHIFTPERIOD or
// SPICLOCK records would set a period above PERIOD_CAP are not run (a
// 16-bit shift at the engine's largest period fills gigabytes).
#include <memory>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "settings/settings.h"
#include "settings/textconv.h"
#include "sim_board.h"

namespace {

constexpr int MAX_RECORDS = 16;
constexpr uint32_t PERIOD_CAP = 64;
constexpr size_t GUARD_WORDS = 4;
constexpr uint16_t GUARD = 0xA55A;

const char *const names[8] = {"SPIPORT",    "SPIMUL",         "SPISHIFTPERIOD",  "SPICLOCK",
                              "SPICMDBITS", "SPICMDREADBITS", "SPICMDWRITEBITS", "SPIMAXCLOCK"};

struct reader {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    bool done() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint16_t u16()
    {
        const uint16_t lo = byte();
        return static_cast<uint16_t>(lo | (byte() << 8));
    }
    uint32_t u32()
    {
        const uint32_t lo = u16();
        return lo | (static_cast<uint32_t>(u16()) << 16);
    }
    std::string text(uint8_t length)
    {
        std::string s;
        for (uint8_t i = 0; i < length && at < size; i++)
            s.push_back(static_cast<char>(data[at++]));
        return s;
    }
};

// A transfer buffer with guard words on both sides.
struct guarded_words {
    std::vector<uint16_t> storage;
    std::vector<uint16_t> original; // a write's words, which must stay as given
    uint16_t *words() { return storage.data() + GUARD_WORDS; }
};

// Texts of the set-variable records; each lives until the input is done.
struct record_texts {
    std::unique_ptr<std::string> name, value;
};

bool names_variable(const std::string *name, const char *table_name)
{
    return name != nullptr && ::same_name(name->c_str(), table_name);
}

// Whether a set-variable record would set a period the harness does not run.
bool sets_huge_period(const std::string *name, const std::string *value)
{
    if (value == nullptr)
        return false;
    if (names_variable(name, "SPISHIFTPERIOD"))
        return text_to_int32(value->c_str()) > static_cast<int32_t>(PERIOD_CAP);
    if (names_variable(name, "SPICLOCK")) {
        const double d = text_to_double(value->c_str());
        return d != 0.0 && CLOCK_FACTOR / d + 0.5 >= PERIOD_CAP + 1.0;
    }
    return false;
}

// A board freshly initialised for the given wiring. Initialising 2 MiB of
// chip memory byte by byte in an unoptimised sanitizer build takes tens of
// milliseconds, so each wiring is initialised once and copied per input.
sim_board &fresh_board(uint8_t wiring)
{
    static sim_board *pristine = [] {
        auto *boards = new sim_board[2];
        sim_board_init(&boards[0], SIM_WIRING_DIRECT);
        sim_board_init(&boards[1], SIM_WIRING_MUX);
        return boards;
    }();
    static sim_board *board = new sim_board;
    memcpy(board, &pristine[wiring == SIM_WIRING_MUX ? 1 : 0], sizeof *board);
    return *board;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    reader in{data, size};
    const uint8_t flags = in.byte();
    const uint8_t alloc_fail = in.byte();
    const uint8_t control_fail = in.byte();
    const uint8_t port_faults = in.byte();
    const uint8_t chip0_faults = in.byte();
    const uint8_t chip1_faults = in.byte();

    std::vector<seq_record> records;
    std::vector<guarded_words> buffers(MAX_RECORDS);
    std::vector<record_texts> texts(MAX_RECORDS);
    while (!in.done() && records.size() < MAX_RECORDS) {
        const size_t i = records.size();
        const uint8_t kind = in.byte();
        seq_record r{};
        if ((kind & 3) <= 1) {
            r.command = kind & 3;
            r.address = in.u16();
            const uint8_t count = in.byte();
            r.word_count = count & 0x3F;
            if (!(count & 0x40)) {
                guarded_words &g = buffers[i];
                g.storage.assign(r.word_count + 2 * GUARD_WORDS, GUARD);
                for (uint16_t w = 0; w < r.word_count; w++)
                    g.words()[w] = static_cast<uint16_t>(r.address * 7 + w * 0x0101 + 1);
                g.original.assign(g.storage.begin(), g.storage.end());
                r.words = g.words();
            }
        } else if ((kind & 3) == 2) {
            r.command = SEQ_SETVAR;
            const uint8_t selector = in.byte();
            if (selector < 0xF0) {
                std::string name = names[selector % 8];
                for (size_t c = 0; c < name.size(); c++)
                    if ((selector >> 3) & (1u << (c % 5)))
                        name[c] = static_cast<char>(name[c] - 'A' + 'a');
                texts[i].name = std::make_unique<std::string>(name);
            } else if (selector != 0xFE) {
                texts[i].name = std::make_unique<std::string>(in.text(in.byte()));
            }
            const uint8_t length = in.byte();
            if (length != 0xFF)
                texts[i].value = std::make_unique<std::string>(in.text(length));
            if (sets_huge_period(texts[i].name.get(), texts[i].value.get()))
                return 0;
            r.name = texts[i].name ? texts[i].name->c_str() : nullptr;
            r.value = texts[i].value ? texts[i].value->c_str() : nullptr;
        } else {
            r.command = static_cast<int32_t>(in.u32());
        }
        records.push_back(r);
    }

    fuzz_reset_library();
    sim_board &b = fresh_board((flags & 4) ? SIM_WIRING_MUX : SIM_WIRING_DIRECT);
    b.idle_level = (flags & 8) ? 1 : 0;
    b.chips[0].stopped = (flags & 0x10) ? 1 : 0;
    b.chips[0].faults = chip0_faults & 0xF;
    b.chips[1].faults = chip1_faults & 0xF;
    simport_attach(1, sim_board_play, &b);
    simport_attach(2, nullptr, nullptr);
    simport_attach(4, nullptr, nullptr);
    simport_set_faults(4, SIMPORT_REFUSE_WRITE);
    if (flags & 1)
        select_port(1);
    simport_set_faults(1, port_faults & 7);
    if (flags & 0x20)
        spifns_chip_select(1);
    if (flags & 2)
        spifns_set_debug_callback(fuzz_check_trace_line);
    if (alloc_fail != 0xFF)
        simport_fail_alloc_after(alloc_fail);
    if (control_fail != 0xFF)
        simport_fail_control_after(1, control_fail);

    const std::vector<seq_record> copy = records;
    const int result = spifns_sequence(records.data(), static_cast<int>(records.size()));

    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK(records.empty() || memcmp(copy.data(), records.data(), records.size() * sizeof(seq_record)) == 0,
               "a record was written");
    for (size_t i = 0; i < records.size(); i++) {
        const guarded_words &g = buffers[i];
        if (g.storage.empty())
            continue;
        for (size_t w = 0; w < GUARD_WORDS; w++) {
            FUZZ_CHECK(g.storage[w] == GUARD, "written before a buffer");
            FUZZ_CHECK(g.storage[g.storage.size() - 1 - w] == GUARD, "written past a buffer's count");
        }
        if (records[i].command == SEQ_WRITE)
            FUZZ_CHECK(g.storage == g.original, "a write buffer was written");
    }
    fuzz_check_link_state();
    fuzz_check_handles(1, 4);

    spifns_set_debug_callback(nullptr);
    fuzz_reset_library();
    return 0;
}
