#!/bin/sh
# SPDX-License-Identifier: MIT
# install.cmd in a prefix without the driver: bad arguments change nothing
# (exit 2), and a value the registry refuses undoes the install (exit 1);
# either way no torvex service and no driver file remain.
#
#   install_undo.sh <prefix> <install.cmd> <torvex.sys>
set -u
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
install=$(winepath -w "$2")
sys=$(winepath -w "$3")
failed=0

expect() {
  want=$1
  shift
  wine cmd /c "$install" "$sys" "$@" </dev/null
  got=$?
  [ "$got" -eq "$want" ] || { echo "FAIL: $*: exit status $got, not $want"; failed=1; }
  if wine sc query torvex </dev/null >/dev/null 2>&1; then
    echo "FAIL: $*: the torvex service remains"
    failed=1
    wine sc delete torvex </dev/null >/dev/null 2>&1
  fi
  if [ -e "$WINEPREFIX/drive_c/windows/system32/drivers/torvex.sys" ]; then
    echo "FAIL: $*: the driver file remains"
    failed=1
  fi
}

expect 2 Backend 0 Ports
expect 2 Backend 0x1g
expect 2 Backend 12a
expect 1 Backend 0 Ports 0x100000000
exit $failed
