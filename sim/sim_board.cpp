// SPDX-License-Identifier: MIT
// Simulated board: decodes the chip-select lines of every output byte,
// clocks the selected chip on LINE_CLK edges and reports its data-out line.
//
// Chip protocol, per transaction (a transaction lasts while the chip stays selected):
// - rising LINE_CLK edge: sample LINE_MOSI. The first 8 bits are the command
//   byte, the next 16 the address, most significant bit first.
// - falling LINE_CLK edge: put the next output bit on data-out. A read
//   (command & 3 == 3) outputs, from the falling edge after the 24th rising
//   edge on, the echo (command << 8 | address >> 8) and then the words from the
//   address upward; the host samples each bit on the rising edge that follows.
//   Outside a read the line goes to 0 at the first clock edge of the transaction.
// - a write (command & 3 == 2) stores every 16 further bits as one word, from
//   the address upward. Both directions wrap at 0xFFFF.
// - before the first clock edge the line shows the processor state: 1 while
//   stopped, 0 while running.
// A byte that changes the selection starts and ends transactions but clocks
// nobody: a chip takes the clock level of the byte that selects it as its
// starting level, and a chip being deselected ignores that byte's edge.
//
// Freestanding: no library calls, no allocation, no exceptions.
#include "sim_board.h"

namespace {

enum : uint8_t {
    MODE_HEADER = 0, // receiving the command byte and the address
    MODE_READ = 1,
    MODE_WRITE = 2,
    MODE_IGNORE = 3,
};

constexpr uint32_t HEADER_BITS = 24;

// A chip tells reads from writes by the low two bits of the command byte;
// the configurable command bits above them do not matter to it.
uint8_t command_mode(uint8_t command)
{
    switch (command & 3) {
    case CHIP_CMD_READ:
        return MODE_READ;
    case CHIP_CMD_WRITE:
        return MODE_WRITE;
    default:
        return MODE_IGNORE;
    }
}

uint8_t decode_selection(uint8_t wiring, uint8_t out)
{
    if (wiring == SIM_WIRING_LOOPBACK)
        return SIM_NO_CHIP;
    if (wiring == SIM_WIRING_MUX) {
        if (out & LINE_CS)
            return SIM_NO_CHIP;
        uint8_t channel = (uint8_t)((out & MUX_CHANNEL) >> 1);
        return channel < SIM_MAX_CHIPS ? channel : (uint8_t)SIM_NO_CHIP;
    }
    if (!(out & LINE_CS))
        return 0;
    return (out & LINE_SEL2) ? (uint8_t)1 : (uint8_t)SIM_NO_CHIP;
}

uint8_t idle_status(const sim_board *b)
{
    return b->idle_level ? (uint8_t)STATUS_MISO : (uint8_t)0;
}

// Status byte for the current line state: only bit 6 is ever set.
uint8_t current_status(const sim_board *b)
{
    if (b->wiring == SIM_WIRING_LOOPBACK)
        return (b->last_out & LINE_MOSI) ? (uint8_t)STATUS_MISO : (uint8_t)0;
    if (b->sel == SIM_NO_CHIP)
        return idle_status(b);
    const sim_chip *c = &b->chips[b->sel];
    if (c->faults) {
        if (c->faults & SIM_FAULT_ABSENT)
            return idle_status(b);
        if (c->faults & SIM_FAULT_STUCK0)
            return 0;
        if (c->faults & SIM_FAULT_STUCK1)
            return STATUS_MISO;
    }
    return c->miso ? (uint8_t)STATUS_MISO : (uint8_t)0;
}

void reset_decoder(sim_chip *c)
{
    c->bit_index = 0;
    c->shift_in = 0;
    c->shift_out = 0;
    c->command = 0;
    c->address = 0;
    c->cursor = 0;
    c->mode = MODE_HEADER;
    c->word_bits = 0;
    c->echo_done = 0;
    c->miso = c->stopped ? 1 : 0;
}

void start_transaction(sim_board *b, uint8_t chip)
{
    sim_chip *c = &b->chips[chip];
    c->selected = 1;
    reset_decoder(c);
    if (c->faults & SIM_FAULT_ABSENT)
        return;
    b->stats.transactions++;
    uint32_t slot = b->log_count % SIM_LOG_SIZE;
    b->log[slot] = sim_transaction_log{chip, 0, 0, 0, 0};
    b->open_slot = slot;
    b->transaction_open = 1;
    b->log_count++;
}

void end_transaction(sim_board *b, uint8_t chip)
{
    b->chips[chip].selected = 0;
    b->transaction_open = 0;
}

sim_transaction_log *open_entry(sim_board *b)
{
    return b->transaction_open ? &b->log[b->open_slot] : nullptr;
}

void rising_edge(sim_board *b, sim_chip *c, uint8_t out)
{
    uint32_t bit = (out & LINE_MOSI) ? 1u : 0u;
    sim_transaction_log *e = open_entry(b);
    c->bit_index++;
    if (e)
        e->bits++;

    if (c->mode == MODE_HEADER) {
        c->miso = 0;
        c->shift_in = (c->shift_in << 1) | bit;
        if (c->bit_index == 8) {
            c->command = (uint8_t)c->shift_in;
            if (e)
                e->command = c->command;
            if (command_mode(c->command) == MODE_READ)
                b->stats.read_transactions++;
            else if (command_mode(c->command) == MODE_WRITE)
                b->stats.write_transactions++;
        } else if (c->bit_index == HEADER_BITS) {
            c->address = (uint16_t)c->shift_in;
            c->cursor = c->address;
            c->shift_in = 0;
            c->word_bits = 0;
            if (e)
                e->address = c->address;
            c->mode = command_mode(c->command);
        }
        return;
    }
    if (c->mode == MODE_WRITE) {
        c->shift_in = (c->shift_in << 1) | bit;
        if (++c->word_bits == 16) {
            c->mem[c->cursor++] = (uint16_t)c->shift_in;
            c->shift_in = 0;
            c->word_bits = 0;
            b->stats.words_written++;
            if (e)
                e->words++;
        }
        return;
    }
    // A read drives data-out only on falling edges.
    if (c->mode != MODE_READ)
        c->miso = 0;
}

void falling_edge(sim_board *b, sim_chip *c)
{
    if (c->mode != MODE_READ) {
        c->miso = 0;
        return;
    }
    if (c->word_bits == 0) {
        if (!c->echo_done) {
            uint16_t echo = chip_read_echo(c->command, c->address);
            if (c->faults & SIM_FAULT_BAD_ECHO)
                echo ^= 1;
            c->shift_out = echo;
        } else {
            c->shift_out = c->mem[c->cursor++];
        }
    }
    c->miso = (uint8_t)((c->shift_out >> (15 - c->word_bits)) & 1);
    if (++c->word_bits == 16) {
        c->word_bits = 0;
        if (!c->echo_done) {
            c->echo_done = 1;
        } else {
            b->stats.words_read++;
            sim_transaction_log *e = open_entry(b);
            if (e)
                e->words++;
        }
    }
}

// One output byte that differs from the previous one.
inline uint8_t step_changed(sim_board *b, uint8_t out)
{
    uint8_t prev = b->last_out;
    b->last_out = out;
    uint8_t sel = decode_selection(b->wiring, out);
    if (sel != b->sel) {
        if (b->sel != SIM_NO_CHIP)
            end_transaction(b, b->sel);
        b->sel = sel;
        if (sel != SIM_NO_CHIP)
            start_transaction(b, sel);
    } else if (sel != SIM_NO_CHIP && ((prev ^ out) & LINE_CLK)) {
        sim_chip *c = &b->chips[sel];
        if (!(c->faults & SIM_FAULT_ABSENT)) {
            if (out & LINE_CLK)
                rising_edge(b, c, out);
            else
                falling_edge(b, c);
        }
    }
    return current_status(b);
}

} // namespace

void sim_board_init(sim_board *board, uint8_t wiring)
{
    // A plain byte loop: no library memset in a freestanding build.
    uint8_t *bytes = (uint8_t *)board;
    for (size_t i = 0; i < sizeof(*board); i++)
        bytes[i] = 0;
    board->wiring = wiring;
    board->idle_level = 1;
    board->last_out = LINE_BYTE_AT_LOAD;
    board->sel = decode_selection(wiring, board->last_out);
    for (uint32_t i = 0; i < SIM_MAX_CHIPS; i++)
        reset_decoder(&board->chips[i]);
    if (board->sel != SIM_NO_CHIP)
        board->chips[board->sel].selected = 1;
}

uint8_t sim_board_step(sim_board *board, uint8_t out)
{
    board->stats.bytes++;
    if (out == board->last_out)
        return current_status(board);
    return step_changed(board, out);
}

int sim_board_play(void *context, const uint8_t *out, uint8_t *status, uint32_t n)
{
    sim_board *b = (sim_board *)context;
    if (!b || (n && (!out || !status)))
        return 0;
    b->stats.bytes += n;
    // Runs of identical bytes carry no edge and no selection change, so they
    // repeat the status of their first byte. The status is taken afresh at
    // the start of each call, since fields may have been changed in between.
    uint8_t last = b->last_out;
    uint8_t st = current_status(b);
    for (uint32_t i = 0; i < n; i++) {
        uint8_t o = out[i]; // read before the store: out may alias status
        if (o != last) {
            st = step_changed(b, o);
            last = o;
        }
        status[i] = st;
    }
    return 1;
}

uint32_t sim_board_recent_transactions(const sim_board *board, sim_transaction_log *dst, uint32_t max)
{
    uint32_t have = board->log_count < SIM_LOG_SIZE ? board->log_count : (uint32_t)SIM_LOG_SIZE;
    uint32_t n = max < have ? max : have;
    uint32_t first = board->log_count - n; // oldest of the n newest
    for (uint32_t i = 0; i < n; i++)
        dst[i] = board->log[(first + i) % SIM_LOG_SIZE];
    return n;
}

void sim_board_reset_stats(sim_board *board)
{
    uint8_t *s = (uint8_t *)&board->stats;
    for (size_t i = 0; i < sizeof(board->stats); i++)
        s[i] = 0;
    uint8_t *l = (uint8_t *)board->log;
    for (size_t i = 0; i < sizeof(board->log); i++)
        l[i] = 0;
    board->log_count = 0;
    board->transaction_open = 0;
    board->open_slot = 0;
}

int sim_board_selected_chip(const sim_board *board)
{
    return board->sel == SIM_NO_CHIP ? -1 : (int)board->sel;
}
