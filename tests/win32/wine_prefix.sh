#!/bin/sh
# SPDX-License-Identifier: MIT
# A private Wine prefix for the Win32 tests, made inside the build tree.
#
#   wine_prefix.sh setup <prefix> [<torvex.sys> [ValueName dword ...]]
#       Makes a fresh prefix (32-bit; 64-bit with WINEARCH=win64), starts a persistent wineserver for it
#       (output sent away, so no caller waits on it) and, given a driver,
#       installs and starts it with those Parameters values.
#   wine_prefix.sh run <prefix> <program.exe> [args...]
#       Runs a program in the prefix; the exit status is the program's.
#   wine_prefix.sh teardown <prefix>
#       Stops that prefix's wineserver (and with it its programs and
#       drivers), then removes the prefix. No other server is touched.
set -eu

usage() {
  echo "usage: $0 setup|run|teardown <prefix> ..." >&2
  exit 2
}
[ $# -ge 2 ] || usage
action=$1
prefix=$2
shift 2
case $prefix in
  /*) ;;
  *) echo "$0: the prefix must be an absolute path" >&2; exit 2 ;;
esac

export WINEPREFIX="$prefix"
# The architecture counts only when the prefix is made; later runs take the
# prefix's own.
if [ "$action" = setup ]; then
  export WINEARCH="${WINEARCH:-win32}"
else
  unset WINEARCH
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
here=$(cd "$(dirname "$0")" && pwd)

stop_server() {
  if [ -d "$prefix" ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
  fi
}

case $action in
  setup)
    stop_server
    rm -rf "$prefix"
    mkdir -p "$prefix"
    # wineboot makes the prefix with a server of its own; the service manager
    # of that first boot does not start drivers reliably, so let that server
    # finish, then keep a persistent one (the driver lives as long as it).
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
    # Start the prefix's system processes (service manager, device hosts)
    # now, with their output sent away: started by a test program they would
    # inherit its pipes and keep the test runner waiting on them. With
    # TORVEX_DEVICE_LOG set, their debug output goes to that file with
    # ntoskrnl's fixme lines on (the port accesses of a driver under Wine)
    # and the drivers' DbgPrint lines (warn:debugstr).
    if [ -n "${TORVEX_DEVICE_LOG:-}" ]; then
      WINEDEBUG=-all,fixme+ntoskrnl,warn+debugstr wineboot </dev/null >/dev/null 2>"$TORVEX_DEVICE_LOG"
    else
      wineboot </dev/null >/dev/null 2>&1
    fi
    if [ $# -ge 1 ]; then
      sys=$1
      shift
      install_script=${TORVEX_INSTALL_WINE:-$(dirname "$sys")/install-wine.sh}
      "$install_script" "$sys" "$@"
    fi
    echo "prefix ready: $prefix"
    ;;
  run)
    [ $# -ge 1 ] || usage
    exec wine "$@" </dev/null
    ;;
  teardown)
    stop_server
    rm -rf "$prefix"
    echo "prefix removed: $prefix"
    ;;
  *) usage ;;
esac
