#!/usr/bin/env bash
# Installs what the project needs from Debian's packages, skipping what is
# already present, so a second run takes a moment. Run as root.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  updated_arch=1
fi

for pkg in cmake make g++ libgtest-dev libbenchmark-dev valgrind locales zip unzip \
           g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 \
           clang libclang-rt-14-dev sigrok-cli; do
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
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
echo "setup: all dependencies present"
