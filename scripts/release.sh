#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Windows binaries and writes the release archives:
#   spifns-<version>-windows.zip    spifns.dll, its USB edition usb/spifns.dll, spitool.exe, the x86 and x64 port
#                                   drivers with their install, uninstall and signing
#                                   scripts, the public headers and the documents
#   spifns-<version>-source.tar.gz  the sources of the commit checked out (git archive)
# into build/release, or into the directory given. The version is the one in
# CMakeLists.txt. The last line printed is the path of the Windows archive.
# The images in the archive are stripped; the debug information of each
# stays beside it in the build tree (spifns.dll.debug beside spifns.dll),
# named with its checksum in the image's debug link, where gdb finds it.
#
#   scripts/release.sh [output directory]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/release}
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(sed -n 's/^project(spifns VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no project version in CMakeLists.txt" >&2; exit 1; }

# Configures a preset once, then builds it (the targets given, or all).
build() {
  local preset=$1 log=$out/$1.log
  shift
  echo "release: building preset $preset" >&2
  if { [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset"; } >"$log" 2>&1 &&
     cmake --build --preset "$preset" -j2 ${1:+--target "$@"} >>"$log" 2>&1; then
    rm -f "$log"
  else
    tail -n 40 "$log" >&2
    echo "release: building preset $preset failed (log: $log)" >&2
    exit 1
  fi
}
build mingw32 spifns spifns_usb spitool torvex
build mingw64    # the x64 port driver only

name=spifns-$version-windows
stage=$out/$name
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage/driver" "$stage/include" "$stage/docs"
# Every file is named here, so a missing one stops the release.
# <objcopy> <image> <directory>: the image stripped into the directory, its
# debug information into <image>.debug. SOURCE_DATE_EPOCH, the commit's time
# unless given, is the time stamp objcopy writes into the image.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
strip_into() {
  "$1" --only-keep-debug "$2" "$2.debug"
  "$1" --strip-all --add-gnu-debuglink="$2.debug" "$2" "$3/$(basename "$2")"
}
x86=i686-w64-mingw32-objcopy x64=x86_64-w64-mingw32-objcopy
strip_into $x86 build/mingw32/src/spifns.dll "$stage"
strip_into $x86 build/mingw32/src/spitool.exe "$stage"
strip_into $x86 build/mingw32/driver/torvex.sys "$stage/driver"
strip_into $x64 build/mingw64/driver/torvex64.sys "$stage/driver"
cp README.md LICENSE CHANGELOG.md "$stage/"
cp include/spifns.h include/spifns_exports.h "$stage/include/"
cp docs/spitool.md docs/spitool-timing.svg docs/usb.md docs/usb-wiring.svg "$stage/docs/"
# The USB edition: a drop-in spifns.dll for FTDI adapters (FTDI's D2XX driver installed).
mkdir -p "$stage/usb"
strip_into $x86 build/mingw32/src/usb/spifns.dll "$stage/usb"
cp driver/install.cmd driver/uninstall.cmd driver/install-wine.sh driver/uninstall-wine.sh \
   driver/README.md scripts/sign-driver.sh "$stage/driver/"
(cd "$out" && zip -q -X -r "$name.zip" "$name")
rm -rf "$stage"

# The source archive holds what is committed; say so when the tree differs.
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "release: uncommitted changes are not in the source archive" >&2
fi
git archive --format=tar.gz --prefix="spifns-$version/" -o "$out/spifns-$version-source.tar.gz" HEAD
echo "$out/spifns-$version-source.tar.gz"

echo "$out/$name.zip"
