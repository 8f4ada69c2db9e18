#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what the project needs from Debian's packages, skipping what is
# already present, so a second run takes a moment. Run as root.
#
#   scripts/setup.sh           everything the test command needs (all presets)
#   scripts/setup.sh --native  only the native build and the demo
set -euo pipefail

native=(cmake make g++ libgtest-dev libbenchmark-dev sigrok-cli python3 pkgconf libftdi1-dev)
# The Windows cross-builds and Wine (64-bit too, for the x64 driver under
# WoW64), test signing, the fuzz preset's clang, the test locale, the
# release archive's zip and unzip.
rest=(locales g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 clang libclang-rt-14-dev
      wine64 g++-mingw-w64-x86-64 osslsigncode openssl zip unzip)

wanted=("${native[@]}")
if [ "${1:-}" != "--native" ]; then
  wanted+=("${rest[@]}")
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    updated_arch=1
  fi
fi

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in "${wanted[@]}"; do
  have_pkg "$pkg" || need+=("$pkg")
done

if [ "${#need[@]}" -gt 0 ] || [ -n "${updated_arch:-}" ]; then
  echo "setup: installing ${need[*]:-(package lists for i386)}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ "${#need[@]}" -gt 0 ]; then
    apt-get install -y -qq "${need[@]}" >/dev/null
  fi
fi

# A locale whose decimal point is a comma, for the tests that check the
# library's texts do not follow the host's locale.
if [ "${1:-}" != "--native" ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
echo "setup: all dependencies present"
