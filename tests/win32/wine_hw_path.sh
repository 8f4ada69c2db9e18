#!/bin/sh
# SPDX-License-Identifier: MIT
# The hardware back end's compiled path under Wine, whose port functions do
# nothing but log each call in the device host's debug output (reads return
# 0), with the driver's DbgPrint lines beside them:
#
#   wine_hw_path.sh <prefix> <torvex.sys> <spitool.exe>
#
# One prefix, the driver restarted between the steps:
# 1. Backend 1 Ports 0x2 IoBase1 0x378: the read-back check reads zeros, so
#    `spitool write` fails: the port is refused, with no data write that
#    selects a chip or raises the clock, and the control register written
#    back after the last data write.
# 2. VerifyPort1 0: `spitool --no-verify write 0x1000 0x1234` plays: the
#    neutral byte first and last, one data write and one status read per
#    output byte between, whose rising clock edges with chip select low
#    carry the 40 bits 02 1000 1234.
#    In both, only the port's registers and 0x77A are touched, 0x77A (where
#    nothing answers) at most with the ECR presence test's 0x34, and no
#    control write sets the direction or interrupt bit.
# 3. Settings the driver must refuse, one at a time (a value of the wrong
#    type, out of range, an ECR on the port's registers or past 0xFFFF, a
#    system port that is not there): the driver does not start, and its
#    debug output names the value.
# Cannot run (a skip, or a failure where CI is set) when the log does not have
# the form this check reads.
set -u
[ $# -eq 3 ] || { echo "usage: $0 <prefix> <torvex.sys> <spitool.exe>" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1
tool=$3
log=$prefix.log
trap '"$here/wine_prefix.sh" teardown "$prefix" >/dev/null; rm -f "$log" "$log.events"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

TORVEX_DEVICE_LOG=$log TORVEX_INSTALL_WINE=$here/../../driver/install-wine.sh \
  "$here/wine_prefix.sh" setup "$prefix" "$2" Backend 1 Ports 0x2 IoBase1 0x378 >/dev/null ||
  { echo "FAIL: driver not installed"; exit 1; }

in_prefix() { WINEPREFIX=$prefix WINEDEBUG=-all "$@" </dev/null; }
parameters='HKLM\SYSTEM\CurrentControlSet\Services\torvex\Parameters'
set_value() { in_prefix wine reg add "$parameters" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1; }
unset_value() { in_prefix wine reg delete "$parameters" /v "$1" /f >/dev/null 2>&1; }
stop_driver() { in_prefix wine sc stop torvex >/dev/null 2>&1; }
start_driver() { in_prefix wine sc start torvex >/dev/null 2>&1; }
# The log lines written since mark.
since() { tail -n +"$(($1 + 1))" "$log"; }

# The port accesses of one step, as W <address> <value> and R <address>, in
# the order the driver made them; checked for what holds in every step, then
# for the step's own shape (refused or played).
check_accesses() {
  since "$1" | sed -n -e 's/.*fixme:ntoskrnl:WRITE_PORT_UCHAR (\([0-9A-F]*\) \([0-9]*\)) stub!$/W \1 \2/p' \
                      -e 's/.*fixme:ntoskrnl:READ_PORT_UCHAR (\([0-9A-F]*\)) stub!$/R \1/p' >"$log.events"
  calls=$(since "$1" | grep -c 'PORT_UCHAR')
  if [ "$calls" -eq 0 ] || [ "$calls" -ne "$(wc -l <"$log.events")" ]; then
    sh "$here/../support/cannot_run.sh" \
      "this Wine does not log port accesses as 'fixme:ntoskrnl:WRITE_PORT_UCHAR (00000378 17) stub!'"
    exit $?
  fi
  awk -v step="$2" '
  function fail(what) { print "FAIL: " step ": " what; bad = 1 }
  function safe(v) { return v % 2 == 1 && int(v / 2) % 2 == 0 && v < 128 }
  {
    ev[NR] = $0
    if ($2 != "00000378" && $2 != "00000379" && $2 != "0000037A" && $2 != "0000077A")
      fail("access outside the port: " $0)
    if ($1 == "W" && $2 == "0000077A" && $3 != 52)
      fail("0x77A written with " $3 ", not the presence test 0x34")
    if ($1 == "W" && $2 == "0000037A" && int($3 / 16) % 4 != 0)
      fail("control register written with the direction or interrupt bit: " $3)
    if ($1 == "W" && $2 == "00000378") { last_data = NR; if (!first_data) first_data = NR }
    if ($1 == "W" && $2 == "0000037A") last_control = NR
    if ($1 == "R" && $2 == "00000379" && !armed) armed = NR
  }
  END {
    if (!first_data) { fail("no data write"); exit 1 }
    if (ev[first_data] != "W 00000378 17" || ev[last_data] != "W 00000378 17")
      fail("lines not neutral at arm and release: " ev[first_data] ", " ev[last_data])
    if (last_control < last_data)
      fail("the control register is not written back after the last data write")
    if (step == "refused") {
      for (i = 1; i <= NR; i++) {
        split(ev[i], w, " ")
        if (w[1] == "W" && w[2] == "00000378" && !safe(w[3]))
          fail("data write selects a chip or raises the clock: " ev[i])
        if (ev[i] == "W 00000378 85" && ev[i + 1] == "R 00000378")
          checked = 1
      }
      if (!checked)
        fail("no read-back check (0x55 written and read)")
      if (!bad)
        print "ok: refused: " NR " port accesses, the lines safe throughout, control written back"
      exit bad
    }
    # Played: the arm up to its status read, then write and read pairs, then
    # the release from the last data write on.
    bits = ""; prev = -1
    for (i = armed + 1; i < last_data; i += 2) {
      split(ev[i], w, " ")
      if (w[1] != "W" || w[2] != "00000378" || ev[i + 1] != "R 00000379") {
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
    for (i = last_data + 1; i <= NR; i++)
      if (ev[i] !~ /^W 0000037A / && ev[i] !~ /^W 0000077A /)
        fail("release touches more than the control register and the ECR: " ev[i])
    if (!bad)
      print "ok: played: " NR " port accesses; arm, " (last_data - armed - 1) / 2 " output bytes carrying 02 1000 1234, release"
    exit bad
  }' "$log.events" || failed=1
}

# 1. The read-back check on: refused.
mark=$(wc -l <"$log")
out=$("$here/wine_prefix.sh" run "$prefix" "$tool" --no-verify write 0x1000 0x1234 2>&1) &&
  fail "spitool write succeeded on a port whose data lines read 0: $out"
stop_driver
since "$mark" | grep -q 'torvex: port at 0x378 not armed: data lines do not read back' ||
  fail "refused: no debug message naming the failed read-back check"
check_accesses "$mark" refused

# 2. The read-back check off: played.
set_value VerifyPort1 REG_DWORD 0
mark=$(wc -l <"$log")
start_driver || fail "driver did not start with VerifyPort1 0"
out=$("$here/wine_prefix.sh" run "$prefix" "$tool" --no-verify write 0x1000 0x1234 2>&1) ||
  fail "spitool write failed: $out"
stop_driver
check_accesses "$mark" played

# 3. Settings refused: NAME TYPE DATA EXPECTED-MESSAGE, each set alone
# (removed again afterwards; Backend set back to 1).
refused() {
  set_value "$1" "$2" "$3"
  mark=$(wc -l <"$log")
  if start_driver; then
    fail "$1 = $3 ($2): the driver started"
    stop_driver
  fi
  since "$mark" | grep -qF "$4" || fail "$1 = $3 ($2): no debug message '$4'"
  unset_value "$1"
  [ "$1" != Backend ] || set_value Backend REG_DWORD 1
}
refused Backend REG_SZ 1 'torvex: Backend refused: not a REG_DWORD (type 1, 4 bytes)'
refused IoBase1 REG_SZ 0x378 'torvex: IoBase1 refused: not a REG_DWORD'
refused VerifyPort1 REG_DWORD 2 'torvex: VerifyPort1 refused: 0x2 is outside 0x0 to 0x1'
refused EcrBase1 REG_DWORD 0x376 "torvex: EcrBase1 refused: 0x376 puts ECP registers on the port's own"
refused EcrBase1 REG_DWORD 0xfffe 'torvex: EcrBase1 refused: 0xfffe puts the ECR past 0xffff'
refused SystemPort1 REG_DWORD 0 'torvex: port 1: SystemPort1 names \Device\ParallelPort0, which is not there'
[ "$failed" -eq 0 ] && echo "ok: six settings refused, each named"
exit "$failed"
