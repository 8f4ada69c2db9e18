#!/bin/sh
# SPDX-License-Identifier: MIT
# Stops the driver in a test prefix and checks that none of its devices is
# left (the driver's unload routine deletes every device and link):
#   driver_unload.sh <prefix> <driver_check.exe>
set -eu
[ $# -eq 2 ] || { echo "usage: $0 <prefix> <driver_check.exe>" >&2; exit 2; }
export WINEPREFIX="$1"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

wine sc stop torvex </dev/null >/dev/null
tries=0
until wine sc query torvex </dev/null 2>/dev/null | grep -q "STATE *: *1 "; do
  tries=$((tries + 1))
  if [ $tries -ge 50 ]; then
    echo "driver_unload.sh: torvex did not stop" >&2
    exit 1
  fi
  sleep 0.2
done
exec wine "$2" unloaded </dev/null
