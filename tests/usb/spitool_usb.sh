#!/bin/sh
# SPDX-License-Identifier: MIT
# spitool --usb through the FTDI adapter model, as a user runs it:
#
#   spitool_usb.sh native <spitool> <libftdi_model.so> [<sanitizer runtime>]
#       the USB edition beside spitool, the model's libftdi1 preloaded (after
#       the sanitizer runtime, which must come first, in a sanitizer build)
#   spitool_usb.sh wine <wine_prefix.sh> <prefix> <spitool.exe> <usb spifns.dll> <stand-in ftd2xx.dll>
#       spitool.exe with usb\spifns.dll and the stand-in ftd2xx.dll beside it
#
# Adapters, memory and processor state come from SPIFNS_FTDI_MODEL,
# SPIFNS_FTDI_MODEL_MEMORY and SPIFNS_FTDI_MODEL_STOPPED (sim/ftdi_model.h).
set -u
mode=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case $mode in
  native)
    tool=$1 model=${3:+$3:}$2
    spitool() { LD_PRELOAD=$model "$tool" "$@"; }
    ;;
  wine)
    runner=$1 prefix=$2
    mkdir -p "$work/usb" "$work/bare/usb"
    cp "$3" "$work/spitool.exe" && cp "$4" "$work/usb/spifns.dll" && cp "$5" "$work/ftd2xx.dll" || exit 1
    # A second copy without ftd2xx.dll: D2XX not installed.
    cp "$3" "$work/bare/spitool.exe" && cp "$4" "$work/bare/usb/spifns.dll" || exit 1
    spitool() { "$runner" run "$prefix" spitool.exe "$@"; }
    ;;
  *) echo "usage: see $0" >&2; exit 2 ;;
esac
cd "$work" || exit 1
: >empty.conf
export SPIFNS_FTDI_MODEL=A1 SPIFNS_FTDI_MODEL_MEMORY=mem.bin SPIFNS_USB_CONFIG=empty.conf
unset SPIFNS_FTDI_MODEL_STOPPED
passed=0
failed=0

# check NAME STATUS EXPECTED-OUTPUT ARGS...: stdout and stderr together,
# carriage returns dropped; EXPECTED-OUTPUT is a shell pattern.
check() {
  name=$1 want_status=$2 want=$3
  shift 3
  spitool "$@" >out 2>&1
  status=$?
  got=$(tr -d '\r' <out)
  # shellcheck disable=SC2254 # the expected output is a pattern
  case $got in
    $want) matched=1 ;;
    *) matched=0 ;;
  esac
  if [ "$status" -eq "$want_status" ] && [ $matched -eq 1 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s: status %s (want %s)\n--- got\n%s\n--- want\n%s\n' "$name" "$status" "$want_status" "$got" "$want"
  fi
}

printf 'write 0x1000 0x1234 0xBEEF\nread 0x1000 2\n' >script.txt
check run_script 0 "1000: 1234 BEEF" --usb --port 1 run script.txt
check write 0 "wrote 3 words at 0x0100" --usb write 0x100 0x1234 0xBEEF 7
check read 0 "0100: 1234 BEEF 0007" --usb read 0x100 3
check dump 0 "dumped 3 words from 0x0100 to words.bin" --usb dump 0x100 3 words.bin
check load 0 "loaded 3 words from words.bin to 0x0200 (verified)" --usb load 0x200 words.bin
check read_loaded 0 "0200: 1234 BEEF 0007" --usb read 0x200 3
check probe_running 0 "running" --usb probe
export SPIFNS_FTDI_MODEL_STOPPED=1
check probe_stopped 0 "stopped" --usb probe
unset SPIFNS_FTDI_MODEL_STOPPED
SPIFNS_FTDI_MODEL=B7,A1:2232H
check ports 0 "1 LPT1
2 LPT2
3 LPT3" --usb ports
SPIFNS_FTDI_MODEL=
check no_adapter 1 "spitool: cannot select port 1: error 0x100 (Couldn't find LPT port); port 1: no FTDI adapter for it (0 present; is one plugged in?)" \
  --usb --port 1 probe
SPIFNS_FTDI_MODEL=A1
printf 'rate = 20000000\n' >bad.conf
SPIFNS_USB_CONFIG=bad.conf
check bad_setting 1 "spitool: cannot select port 1: error 0x100 (Couldn't find LPT port); bad.conf:1: rate '20000000' is not a byte rate from 3000 to 12000000" \
  --usb probe
SPIFNS_USB_CONFIG=empty.conf
if [ "$mode" = native ]; then
  mkdir alone && cp "$tool" alone/
  tool=alone/spitool
  check not_installed 1 "spitool: the USB edition of the library is not installed (cannot load */libspifns_usb.so.1: *)" \
    --usb probe
else
  # From its own folder: Windows looks for DLLs in the current one too.
  cd bare && : >empty.conf
  check no_d2xx 1 "spitool: cannot select port 1: error 0x100 (Couldn't find LPT port); port 1: ftd2xx.dll, FTDI's D2XX driver, is not installed (Windows error 126)" \
    --usb probe
  rm usb/spifns.dll
  check not_installed 1 "spitool: the USB edition of the library is not installed (cannot load *usb?spifns.dll: Windows error 126*)" \
    --usb probe
fi
echo "spitool --usb ($mode): $passed passed, $failed failed"
[ "$failed" -eq 0 ]
