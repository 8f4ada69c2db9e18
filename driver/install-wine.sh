#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs and starts the torvex port driver in a Wine prefix.
#
#   WINEPREFIX=<dir> install-wine.sh <torvex.sys> [<ValueName> <dword> ...]
#   WINEPREFIX=<dir> WINEARCH=win64 install-wine.sh <torvex64.sys> [<ValueName> <dword> ...]
#
# Creates the prefix when it does not exist (32-bit; 64-bit with
# WINEARCH=win64, where 32-bit programs run through WoW64 and only the x64
# driver starts; WINEARCH counts only then), starts a persistent
# wineserver for it (the driver lives only as long as that server), then
# runs install.cmd inside the prefix: copy to system32\drivers, sc create,
# the Parameters values as REG_DWORDs, sc start. Stop the server afterwards
# with `WINEPREFIX=<dir> wineserver -k`, or remove the driver with
# uninstall-wine.sh.
set -eu

if [ -z "${WINEPREFIX:-}" ]; then
  echo "install-wine.sh: set WINEPREFIX to the prefix to install into" >&2
  exit 2
fi
if [ $# -lt 1 ] || [ ! -f "$1" ]; then
  echo "usage: WINEPREFIX=<dir> $0 <torvex.sys> [ValueName dword ...]" >&2
  exit 2
fi
export WINEPREFIX
if [ -f "$WINEPREFIX/system.reg" ]; then
  unset WINEARCH
else
  export WINEARCH="${WINEARCH:-win32}"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

here=$(cd "$(dirname "$0")" && pwd)
sys=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift

# A new prefix first: wineboot makes it with a server of its own, and the
# service manager of that first boot does not start drivers reliably, so let
# that server finish before going on.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1 || true
fi
# The driver lives only as long as the prefix's wineserver: start a
# persistent one, detached from our pipes so that no caller waits on it.
# A server that is running already is left as it is, so run this while no
# program of the prefix is running (or with a persistent server).
wineserver -p </dev/null >/dev/null 2>&1 || true
# Its system processes (service manager, device hosts, the driver's host
# among them) are started now, with their output sent away, so that they do
# not hold on to the pipes of whoever runs the steps below.
wineboot </dev/null >/dev/null 2>&1

status=0
wine cmd /c "$(winepath -w "$here/install.cmd")" "$(winepath -w "$sys")" "$@" </dev/null || status=$?
if [ $status -ne 3 ]; then
  exit $status
fi
# Installed but not started. In a freshly made prefix the service manager is
# still starting its own services for a few seconds and refuses to start
# another one meanwhile (ERROR_SERVICE_DATABASE_LOCKED, 1055): wait for it.
# Any other failure is final.
tries=0
while [ $tries -lt 60 ]; do
  out=$(WINEDEBUG=err+sc wine sc start torvex </dev/null 2>&1) && { echo "install: torvex started"; exit 0; }
  case $out in
    *"failed to start service 1055"*) ;;
    *) printf '%s\n' "$out" >&2; echo "install-wine.sh: sc start torvex failed" >&2; exit 1 ;;
  esac
  tries=$((tries + 1))
  sleep 0.5
done
echo "install-wine.sh: the service manager stayed locked; torvex not started" >&2
exit 1
