#!/bin/sh
# SPDX-License-Identifier: MIT
# spitool.exe under Wine, loading spifns.dll beside it and talking to the
# port driver's simulated boards:
#
#   wine_spitool.sh <wine_prefix.sh> <prefix> <spitool.exe>
#
# The prefix has the driver installed with ports 1 to 4: port 1 direct
# wiring, port 3 refusing the probe write, chip 0 of port 4 stopped; and
# port 20 with a loopback plug from D6 to data-out.
set -u
if [ $# -ne 3 ]; then
  echo "usage: $0 <wine_prefix.sh> <prefix> <spitool.exe>" >&2
  exit 2
fi
runner=$1
prefix=$2
tool=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# check NAME STATUS EXPECTED-OUTPUT ARGS...: stdout and stderr together,
# carriage returns dropped.
check() {
  name=$1
  want_status=$2
  want=$3
  shift 3
  "$runner" run "$prefix" "$tool" "$@" >"$work/out" 2>&1
  status=$?
  got=$(tr -d '\r' <"$work/out")
  if [ "$status" -eq "$want_status" ] && [ "$got" = "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s: status %s (want %s)\n--- got\n%s\n--- want\n%s\n' \
      "$name" "$status" "$want_status" "$got" "$want"
  fi
}

check write 0 "wrote 3 words at 0x0100" write 0x100 0x1234 0xBEEF 7
check read_back 0 "0100: 1234 BEEF 0007" read 0x100 3
check trace 0 "0100-0101r 1234 BEEF
0100: 1234 BEEF" --trace read 0x100 2
check probe_running 0 "running" probe
check probe_stopped 0 "stopped" --port 4 probe
check ports 0 "1 LPT1
2 LPT2
4 LPT4" ports
# Why a port cannot be selected, from its device: there and refusing, or not there.
check port_refusing_probe 1 "spitool: cannot select port 3: error 0x100 (Couldn't find LPT port); port 3 refused the open probe byte (error 21): the port is not armed (the system's parallel-port driver keeps it, or its data lines do not read back; the driver's debug output says which)" \
  --port 3 read 0
check port_without_device 1 "spitool: cannot select port 9: error 0x100 (Couldn't find LPT port); cannot open port 9 (\\\\.\\TORVEX9, error 2); is the port driver installed and started? (sc query torvex)" \
  --port 9 read 0
# The loopback check opens the port device itself, never through the library.
check loopback 0 "loopback ok: status bit 6 follows D6 in all 512 samples: port mode, polarity and sample position are right" \
  --port 20 loopback
check loopback_no_plug 1 "spitool: loopback failed: status bit 6 is always high (512 samples): no plug, the plug on other pins, or the data lines not driven (the port in ECP or EPP mode, or the direction bit 0x20 of its control register set)" \
  loopback
check loopback_no_port 1 "spitool: loopback: cannot open port 9 (\\\\.\\TORVEX9, error 2); is the port driver installed and started? (sc query torvex)" \
  --port 9 loopback
check loopback_refusing_probe 1 "spitool: loopback: port 3 refused the open probe byte (error 21): the port is not armed (the system's parallel-port driver keeps it, or its data lines do not read back; the driver's debug output says which)" \
  --port 3 loopback
check no_sim 2 "spitool: --sim is not available in this build (no simulated board)" --sim probe

printf 'write 0x200 0xA 0xB\nread 0x200 2\nset SPIPORT 3\nread 0x200\n' >"$work/s.txt"
printf 'read 0x300 3\nread 0x400 3\n' >"$work/r.txt"
check script 1 "0200: 000A 000B
spitool: $work/s.txt:3: set SPIPORT 3 failed: error 0x100 (Couldn't find LPT port); port 3 refused the open probe byte (error 21): the port is not armed (the system's parallel-port driver keeps it, or its data lines do not read back; the driver's debug output says which)
spitool: $work/s.txt:4: read 0x0200 1 failed: error 0x102 (No LPT port selected)
spitool: run $work/s.txt failed: 2 of 4 statements failed" run "$work/s.txt"
# Standard input, read once.
check script_stdin 0 "" run -

# file_is NAME PATH EXPECTED: the file's text, carriage returns dropped.
file_is() {
  if [ "$(tr -d '\r' <"$2")" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $1: $(cat "$2")"
  fi
}
# Dumps replace the old file whole.
echo old >"$work/d.txt"
check dump 0 "dumped 3 words from 0x0100 to $work/d.txt" dump 0x100 3 "$work/d.txt"
file_is dump_file "$work/d.txt" "0100: 1234 BEEF 0007"
check dump_ihex 0 "dumped 3 words from 0x0100 to $work/d.hex" dump 0x100 3 "$work/d.hex"
file_is dump_ihex_file "$work/d.hex" ":060200003412EFBE0700FE
:00000001FF"
# A read-only file is refused, not renamed over.
echo old >"$work/ro.txt"
chmod a-w "$work/ro.txt"
check dump_read_only 1 "spitool: cannot write $work/ro.txt: Permission denied (the old file is unchanged)" \
  dump 0x100 3 "$work/ro.txt"
file_is read_only_file "$work/ro.txt" "old"
ls "$work" | grep tmp >"$work/list"
file_is no_temporary_files "$work/list" ""
check load 0 "loaded 3 words from $work/d.txt to 0x0300 (verified)" --verify load 0x300 "$work/d.txt"
check load_ihex 0 "loaded 3 words from $work/d.hex to 0x0400 (verified)" load 0x400 "$work/d.hex"
check read_loaded 0 "0300: 1234 BEEF 0007
0400: 1234 BEEF 0007" run "$work/r.txt"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
