#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Timing diagram of one write frame and one read frame of the SPI link.

Runs spitool against the simulated board with --vcd, once for a write and
once for a read, and draws what the waveform holds: chip select, clock,
data to the chip (MOSI) and the chip's data-out line (MISO), one column per
output byte, with the bits and fields decoded from the capture itself. So
the picture always shows what the code does.

    scripts/render-timing.py [--spitool PATH] [-o docs/spitool-timing.svg]
    scripts/render-timing.py --check docs/spitool-timing.svg

--check renders to memory and exits with 1 when the file differs.
Python 3 only, no other packages.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape

ADDRESS = 0x0010
WORD = 0xA5C3  # ends in 1: the clipped last bit of the read shows high
SIGNALS = ["CS", "CLK", "MOSI", "MISO"]
COLOURS = {"CS": "#333333", "CLK": "#1f5fbf", "MOSI": "#1a8a3a", "MISO": "#c46a00"}

STEP = 7  # pixels per output byte
LEFT = 64  # label column
ROW = 34  # pixels per signal row
HIGH = 18  # waveform amplitude


def parse_vcd(text):
    """Levels per time step of the signals in SIGNALS."""
    header, body = text.split("$enddefinitions $end", 1)
    names = dict(re.findall(r"\$var wire 1 (\S+) (\S+) \$end", header))
    changes, time = [], 0
    for token in body.split():
        if token.startswith("#"):
            time = int(token[1:])
        elif token not in ("$dumpvars", "$end"):
            changes.append((time, names[token[1:]], token[0]))
    levels = {n: [] for n in SIGNALS}
    state, i = {}, 0
    for step in range(time):
        while i < len(changes) and changes[i][0] <= step:
            state[changes[i][1]] = changes[i][2]
            i += 1
        for n in SIGNALS:
            levels[n].append(int(state.get(n, "0") == "1"))
    return levels


def capture(spitool, memory, args):
    with tempfile.TemporaryDirectory() as tmp:
        vcd = os.path.join(tmp, "link.vcd")
        subprocess.run([spitool, "--sim", "--sim-memory", memory, "--no-verify", "--vcd", vcd] + args,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(vcd) as f:
            return parse_vcd(f.read())


def bits_of(levels):
    """The bits of the frame: each starts with a falling clock edge while
    chip select is low and is taken at the next rising edge, or, when chip
    select rises first, at the last step before it (the clipped bit)."""
    cs, clk = levels["CS"], levels["CLK"]
    n = len(cs)
    fall = cs.index(0)
    rise = next((t for t in range(fall, n) if cs[t]), n)
    bits = []
    for t in range(fall + 1, rise):
        if clk[t - 1] and not clk[t]:
            sample = next((u for u in range(t + 1, rise) if clk[u] and not clk[u - 1]), None)
            bits.append((t, sample if sample is not None else rise - 1, sample is None))
    return bits, fall, rise


def value(levels, line, bits):
    v = 0
    for _, sample, _ in bits:
        v = v << 1 | levels[line][sample]
    return v


def fields_of(levels, bits):
    """(first bit, bit count, line, label) of each field of the frame."""
    command = value(levels, "MOSI", bits[:8])
    reading = command & 3 == 3
    out = [(0, 8, "MOSI", "command 0x%02X" % command),
           (8, 16, "MOSI", "address 0x%04X" % value(levels, "MOSI", bits[8:24]))]
    first = 24
    if reading:
        out.append((24, 16, "MISO", "echo 0x%04X" % value(levels, "MISO", bits[24:40])))
        first = 40
    line = "MISO" if reading else "MOSI"
    while first + 16 <= len(bits):
        out.append((first, 16, line, "data 0x%04X" % value(levels, line, bits[first:first + 16])))
        first += 16
    return reading, out


def polyline(levels, y0):
    points = []
    for t, v in enumerate(levels):
        y = y0 - v * HIGH
        x = LEFT + t * STEP
        if points and points[-1][1] != y:
            points.append((x, points[-1][1]))
        points.append((x, y))
    points.append((LEFT + len(levels) * STEP, points[-1][1]))
    return " ".join("%d,%d" % p for p in points)


def panel(levels, title, top):
    """SVG elements of one frame; returns them and the panel's height."""
    bits, fall, rise = bits_of(levels)
    reading, fields = fields_of(levels, bits)
    steps = len(levels["CS"])
    out = ['<text x="8" y="%d" class="title">%s</text>' % (top + 16, escape(title))]
    y_of = {}
    for i, name in enumerate(SIGNALS):
        base = top + 52 + i * ROW
        y_of[name] = base
        out.append('<text x="8" y="%d" class="label">%s</text>' % (base - 4, name))
        out.append('<polyline points="%s" stroke="%s" class="wave"/>' % (polyline(levels[name], base), COLOURS[name]))
    # Chip select edges and the sampling points.
    bottom = top + 52 + (len(SIGNALS) - 1) * ROW
    for t in (fall, rise):
        if t < steps:
            x = LEFT + t * STEP
            out.append('<line x1="%d" y1="%d" x2="%d" y2="%d" class="edge"/>' % (x, top + 26, x, bottom + 4))
    field_line = {}
    for first, count, line, _ in fields:
        for k in range(first, first + count):
            field_line[k] = line
    for k, (start, sample, clipped) in enumerate(bits):
        line = field_line.get(k, "MOSI")
        x = LEFT + sample * STEP + STEP // 2
        y = y_of[line] - HIGH - 4
        out.append('<text x="%d" y="%d" class="bit%s">%d</text>' % (x, y, " clipped" if clipped else "",
                                                                     levels[line][sample]))
        if not clipped:
            cx = LEFT + sample * STEP
            out.append('<line x1="%d" y1="%d" x2="%d" y2="%d" class="sample"/>' %
                       (cx, y_of["CLK"] - HIGH, cx, y_of["MISO"]))
    # Fields, bracketed under the frame.
    band = bottom + 18
    for first, count, line, label in fields:
        x1 = LEFT + bits[first][0] * STEP
        last = bits[first + count - 1]
        x2 = LEFT + (last[1] + 1) * STEP if last[2] else LEFT + bits[first + count - 1][1] * STEP + STEP
        out.append('<path d="M%d,%d v6 H%d v-6" stroke="%s" class="bracket"/>' % (x1, band, x2, COLOURS[line]))
        out.append('<text x="%d" y="%d" class="field">%s (%s)</text>' %
                   ((x1 + x2) // 2, band + 20, escape(label), line))
    notes = ["chip-select pulse: CS high, two clocks, CS falls with CLK high",
             "SPI mode 3: data changes after CLK falls, is taken on the rising edge; most significant bit first"]
    if reading:
        start, sample, clipped = bits[-1]
        x = LEFT + sample * STEP
        out.append('<circle cx="%d" cy="%d" r="5" class="mark"/>' % (x + STEP // 2, y_of["MISO"] - HIGH // 2))
        if clipped:
            notes.append("the last bit (circled) is sampled with CLK low, then CS rises before its rising "
                         "edge: an SPI decoder shows this word one bit short")
        notes.append("after it: the end-of-transfer trailer (CS high, two clocks), then the closing pulse")
    else:
        notes.append("after the last word CS stays low until the closing chip-select pulse")
    for i, note in enumerate(notes):
        out.append('<text x="%d" y="%d" class="note">%s</text>' % (LEFT, band + 42 + i * 15, escape(note)))
    return out, band + 42 + len(notes) * 15 + 10, steps


def render(spitool):
    with tempfile.TemporaryDirectory() as tmp:
        memory = os.path.join(tmp, "memory.bin")
        write = capture(spitool, memory, ["write", "0x%04X" % ADDRESS, "0x%04X" % WORD])
        read = capture(spitool, memory, ["read", "0x%04X" % ADDRESS])
    body, top, width = [], 0, 0
    for levels, title in ((write, "write 0x%04X at 0x%04X" % (WORD, ADDRESS)),
                          (read, "read at 0x%04X" % ADDRESS)):
        steps = len(levels["CS"])
        elements, height, steps = panel(levels, "%s: %d output bytes, one column each (shift period 1)" %
                                        (title, steps), top)
        body += elements
        top = height
        width = max(width, LEFT + steps * STEP + 16)
    width = max(width, 900)
    style = """<style>
  .title { font: bold 14px sans-serif; fill: #111; }
  .label { font: bold 12px monospace; fill: #333; }
  .note { font: 12px sans-serif; fill: #333; }
  .field { font: 11px monospace; fill: #222; text-anchor: middle; }
  .bit { font: 9px monospace; fill: #555; text-anchor: middle; }
  .bit.clipped { fill: #c00; font-weight: bold; }
  .wave { fill: none; stroke-width: 1.6; }
  .bracket { fill: none; stroke-width: 1.2; }
  .edge { stroke: #999; stroke-dasharray: 4 3; }
  .sample { stroke: #1f5fbf; stroke-opacity: 0.12; }
  .mark { fill: none; stroke: #c00; stroke-width: 1.6; }
</style>"""
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n'
            '<rect width="100%%" height="100%%" fill="white"/>\n%s\n%s\n</svg>\n' %
            (width, top, width, top, style, "\n".join(body)))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--spitool", default=os.path.join(here, "..", "build", "native", "src", "spitool"))
    parser.add_argument("-o", "--output", default=os.path.join(here, "..", "docs", "spitool-timing.svg"))
    parser.add_argument("--check", metavar="SVG", help="exit 1 when SVG is not what the capture gives")
    args = parser.parse_args()
    svg = render(args.spitool)
    if args.check:
        with open(args.check) as f:
            if f.read() != svg:
                print("%s is out of date: run scripts/render-timing.py --spitool %s -o %s"
                      % (args.check, args.spitool, args.check), file=sys.stderr)
                return 1
        return 0
    with open(args.output, "w") as f:
        f.write(svg)
    return 0


if __name__ == "__main__":
    sys.exit(main())
