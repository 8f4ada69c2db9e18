#!/bin/sh
# SPDX-License-Identifier: MIT
# The hardware back end's compiled path under Wine, whose port functions do
# nothing but log each call in the device host's debug output:
#
#   wine_hw_path.sh <prefix> <torvex.sys> <spitool.exe>
#
# Installs the driver with the hardware back end at 0xD010 (read-back check
# off: Wine's port reads return 0), runs `spitool --no-verify write 0x1000
# 0x1234` (a read-back would only see those zeros), stops
# the driver, and checks the logged port accesses: the set-up at arm (control
# register read, written with 0x20 and 0x10 cleared, status read for an EPP
# timeout), then one data write and one status read per output byte, whose
# rising clock edges with chip select low carry the 40 bits 02 1000 1234,
# then the control register written back; no other address. Cannot run
# (a skip, or a failure where CI is set) when the log does not have the form
# this check reads.
set -u
[ $# -eq 3 ] || { echo "usage: $0 <prefix> <torvex.sys> <spitool.exe>" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1
log=$prefix.log
trap '"$here/wine_prefix.sh" teardown "$prefix" >/dev/null; rm -f "$log" "$log.events"' EXIT

TORVEX_DEVICE_LOG=$log TORVEX_INSTALL_WINE=$here/../../driver/install-wine.sh \
  "$here/wine_prefix.sh" setup "$prefix" "$2" Backend 1 Ports 0x2 IoBase1 0xD010 VerifyPort1 0 >/dev/null ||
  { echo "FAIL: driver not installed"; exit 1; }
out=$("$here/wine_prefix.sh" run "$prefix" "$3" --no-verify write 0x1000 0x1234 2>&1) ||
  { echo "FAIL: spitool write failed: $out"; exit 1; }
WINEPREFIX=$prefix WINEDEBUG=-all wine sc stop torvex </dev/null >/dev/null 2>&1

# W <address> <value> and R <address>, in the order the driver made them.
sed -n -e 's/.*fixme:ntoskrnl:WRITE_PORT_UCHAR (\([0-9A-F]*\) \([0-9]*\)) stub!$/W \1 \2/p' \
       -e 's/.*fixme:ntoskrnl:READ_PORT_UCHAR (\([0-9A-F]*\)) stub!$/R \1/p' "$log" >"$log.events"
calls=$(grep -c 'PORT_UCHAR' "$log")
if [ "$calls" -eq 0 ] || [ "$calls" -ne "$(wc -l <"$log.events")" ]; then
  sh "$here/../support/cannot_run.sh" \
    "this Wine does not log port accesses as 'fixme:ntoskrnl:WRITE_PORT_UCHAR (0000D010 145) stub!'"
  exit $?
fi

awk '
function fail(what) { print "FAIL: " what; bad = 1 }
{ ev[NR] = $0 }
END {
  if (ev[1] != "R 0000D012" || ev[2] != "W 0000D012 0" || ev[3] != "R 0000D011")
    fail("set-up at arm: " ev[1] ", " ev[2] ", " ev[3])
  if (ev[NR] != "W 0000D012 0")
    fail("last access is not the control register written back: " ev[NR])
  if ((NR - 4) % 2 != 0 || NR < 6)
    fail(NR " accesses: not set-up, write and read pairs, restore")
  bits = ""; prev = -1
  for (i = 4; i < NR - 1; i += 2) {
    split(ev[i], w, " ")
    if (w[1] != "W" || w[2] != "0000D010" || ev[i + 1] != "R 0000D011") {
      fail("access " i ": " ev[i] ", " ev[i + 1] " is not a data write and a status read")
      break
    }
    v = w[3] + 0
    clk = int(v / 128) % 2
    if (prev >= 0 && int(prev / 128) % 2 == 0 && clk == 1 && v % 2 == 0)
      bits = bits (int(v / 64) % 2)
    prev = v
  }
  if (bits != "0000001000010000000000000001001000110100")
    fail("bits on rising clock edges with chip select low: " bits)
  if (!bad)
    print "ok: " NR " port accesses; set-up, " (NR - 4) / 2 " output bytes carrying 02 1000 1234, restore"
  exit bad
}' "$log.events"
