#!/bin/sh
# SPDX-License-Identifier: MIT
# Stops and removes the torvex port driver from a Wine prefix:
#   WINEPREFIX=<dir> uninstall-wine.sh
set -eu
if [ -z "${WINEPREFIX:-}" ]; then
  echo "uninstall-wine.sh: set WINEPREFIX to the prefix to remove the driver from" >&2
  exit 2
fi
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
here=$(cd "$(dirname "$0")" && pwd)
wine cmd /c "$(winepath -w "$here/uninstall.cmd")" </dev/null
