#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The project in five minutes, with no hardware: installs what is missing,
# builds the native preset and drives the simulated board through spitool,
# the command-line host that loads libspifns.so like any other host tool.
#
#   bash scripts/demo.sh
#
# Leaves the simulated chip memory and a VCD waveform under build/native/demo.
# DEMO_BUILD_DIR=<dir> builds into that directory instead of the preset's.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n== %s\n' "$*"; }
show() { printf '$ %s\n' "$*"; "$@"; }

step "1. Packages for the native build (scripts/setup.sh --native)"
bash scripts/setup.sh --native

step "2. Build (native preset)"
if [ -n "${DEMO_BUILD_DIR:-}" ]; then
  build=$DEMO_BUILD_DIR
  cmake -S . -B "$build" >/dev/null
  cmake --build "$build" -j2 --target spitool >/dev/null
else
  build=build/native
  cmake --preset native >/dev/null
  cmake --build --preset native -j2 >/dev/null
fi
tool=$(find "$build" -name spitool -type f -perm -u+x -print -quit)
if [ -z "$tool" ]; then
  echo "demo: spitool was not built under $build" >&2
  exit 1
fi
echo "built $tool (it loads $(dirname "$tool")/libspifns.so.1)"

out=$build/demo
mkdir -p "$out"
rm -f "$out/chip0.bin" "$out/demo.vcd"
# Every run attaches a fresh simulated board to port 1; chip 0's memory
# lives in chip0.bin between runs.
sim=(--sim --sim-memory "$out/chip0.bin")

step "3. Write four words at 0x1000 (trace lines of the library on stderr)"
show "$tool" "${sim[@]}" --trace write 0x1000 0x1234 0xBEEF 0x0042 0xA5C3

step "4. Read them back"
printf '$ %s\n' "$tool ${sim[*]} --trace read 0x1000 4"
"$tool" "${sim[@]}" --trace read 0x1000 4 >"$out/readback.txt"
cat "$out/readback.txt"
if [ "$(cat "$out/readback.txt")" != "1000: 1234 BEEF 0042 A5C3" ]; then
  echo "demo: the words read back differ from the words written" >&2
  exit 1
fi
echo "(read back what was written)"

step "5. Probe the processor: running, then with the simulated processor stopped"
show "$tool" "${sim[@]}" probe
show "$tool" "${sim[@]}" --sim-stopped --trace probe

step "6. A script run statement by statement, recorded as a waveform"
cat >"$out/demo.script" <<'EOF'
# clock at 100: two output bytes per half period
set SPICLOCK 100
write 0x2000 0x0102 0x0304
read 0x2000 2
read 0x1000 4
EOF
cat "$out/demo.script"
show "$tool" "${sim[@]}" --trace --vcd "$out/demo.vcd" run "$out/demo.script"

step "7. A failure, as it is reported (a port with no device)"
set +e
show "$tool" "${sim[@]}" run - <<'EOF'
set SPIPORT 9
read 0x1000
EOF
echo "(exit status $?)"
set -e

if command -v sigrok-cli >/dev/null 2>&1; then
  step "8. The waveform through sigrok's SPI decoder (MOSI bytes of the write record)"
  sigrok-cli -I vcd -i "$out/demo.vcd" \
    -P spi:clk=CLK:mosi=MOSI:miso=MISO:cs=CS:cpol=1:cpha=1 -A spi=mosi-data |
    sed -n 's/^spi-1: //; 1,7p' | tr '\n' ' '
  echo "(command 02, address 2000, words 0102 0304)"
fi

step "Done"
echo "Waveform: $out/demo.vcd ($(grep -c '^#' "$out/demo.vcd") time stamps, 1 us per output byte)"
echo "  gtkwave $out/demo.vcd"
echo "  pulseview -I vcd $out/demo.vcd"
echo "    then add the SPI decoder: CLK=CLK, MOSI=MOSI, MISO=MISO, CS#=CS;"
echo "    CS# active low, CPOL 1, CPHA 1 (SPI mode 3), MSB first, 8-bit words"
echo "Chip 0 memory: $out/chip0.bin (128 KiB, little-endian words)"
echo "More: docs/spitool.md"
