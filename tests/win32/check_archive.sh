#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs scripts/release.sh and checks the Windows archive as a user receives
# it: the files and their layout, the DLLs' (and the USB edition's) format, exports, imports and
# version resource, the tool's and both drivers' version resources, and the
# drivers' imports. The images are stripped, each with a debug link to the
# debug information left beside it in the build tree.
#   check_archive.sh <source dir> <work dir> <objdump> <version> "<DLL imports>" <export>...
set -u
src=$1 work=$2 objdump=$3 version=$4 imports=$5
shift 5
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/unpacked"
bash "$src/scripts/release.sh" "$work" >"$work/release.log" 2>&1 || { cat "$work/release.log"; echo "FAIL: release.sh"; exit 1; }
zip=$(tail -n 1 "$work/release.log")
[ "$zip" = "$work/spifns-$version-windows.zip" ] || { echo "FAIL: release.sh's last line is '$zip'"; exit 1; }
unzip -q "$zip" -d "$work/unpacked" || { echo "FAIL: unzip $zip"; exit 1; }

status=0
fail() { echo "FAIL: $*"; status=1; }
top=spifns-$version-windows
expected=$(printf "$top/%s\n" CHANGELOG.md LICENSE README.md spifns.dll spitool.exe include/spifns.h include/spifns_exports.h docs/spitool.md docs/spitool-timing.svg \
  docs/usb.md docs/usb-wiring.svg usb/spifns.dll \
  driver/README.md driver/torvex.sys driver/torvex64.sys driver/install.cmd driver/uninstall.cmd \
  driver/install-wine.sh driver/uninstall-wine.sh driver/sign-driver.sh | sort)
found=$(cd "$work/unpacked" && find . -type f | sed 's|^\./||' | sort)
printf '%s\n' "$expected" >"$work/expected"
printf '%s\n' "$found" >"$work/found"
diff "$work/expected" "$work/found" >"$work/diff" ||
  fail "archive contents differ (< missing, > extra): $(cat "$work/diff")"
dir=$work/unpacked/$top
for script in driver/install-wine.sh driver/uninstall-wine.sh driver/sign-driver.sh; do
  [ -x "$dir/$script" ] || fail "$script is not executable"
done

x86=$objdump x64=x86_64-w64-mingw32-objdump
check() { script=$1; shift; "$here/$script" "$@" || status=1; }
check check_pe.sh "$x86" "$dir/spifns.dll" dll
check check_exports.sh "$x86" "$dir/spifns.dll" "$@"
# shellcheck disable=SC2086 # the import names are words
check check_imports.sh "$x86" "$dir/spifns.dll" $imports
# The USB edition: the same twelve exports and two imports.
check check_pe.sh "$x86" "$dir/usb/spifns.dll" dll
check check_exports.sh "$x86" "$dir/usb/spifns.dll" "$@"
# shellcheck disable=SC2086 # the import names are words
check check_imports.sh "$x86" "$dir/usb/spifns.dll" $imports
check check_pe.sh "$x86" "$dir/spitool.exe" console
check check_pe.sh "$x86" "$dir/driver/torvex.sys" native
check check_imports.sh "$x86" "$dir/driver/torvex.sys" ntoskrnl.exe hal.dll
check check_pe.sh "$x64" "$dir/driver/torvex64.sys" native64
check check_imports.sh "$x64" "$dir/driver/torvex64.sys" ntoskrnl.exe
check check_version_resource.sh "$version" "$dir/spifns.dll" "$dir/usb/spifns.dll" "$dir/spitool.exe" \
  "$dir/driver/torvex.sys" "$dir/driver/torvex64.sys"

# stripped <objdump> <image in the archive> <image in the build tree>
stripped() {
  sections=$("$1" -h "$2")
  printf '%s\n' "$sections" | grep -q ' \.debug_' && fail "$2 has debug sections"
  "$1" -t "$2" | grep -qx 'no symbols' || fail "$2 has symbols"
  printf '%s\n' "$sections" | grep -q ' \.gnu_debuglink ' || { fail "$2 has no debug link"; return; }
  "$1" -h "$3.debug" | grep -q ' \.debug_info ' || fail "$3.debug holds no debug information"
  # The link: the debug file's name, NUL, padding to 4 bytes, its CRC-32.
  "$1" -s -j .gnu_debuglink "$2" | python3 -c '
import sys, zlib, os
data = b"".join(bytes.fromhex(l[1:].split(" ", 1)[1][:35].replace(" ", ""))
                for l in sys.stdin if l.startswith(" "))
debug = sys.argv[1]
linked = (data.split(b"\0", 1)[0].decode(), int.from_bytes(data[-4:], "little"))
actual = (os.path.basename(debug), zlib.crc32(open(debug, "rb").read()))
sys.exit(0 if linked == actual else f"FAIL: debug link {linked} is not {debug} {actual}")' "$3.debug" || status=1
}
build=$src/build
stripped "$x86" "$dir/spifns.dll" "$build/mingw32/src/spifns.dll"
stripped "$x86" "$dir/spitool.exe" "$build/mingw32/src/spitool.exe"
stripped "$x86" "$dir/driver/torvex.sys" "$build/mingw32/driver/torvex.sys"
stripped "$x64" "$dir/driver/torvex64.sys" "$build/mingw64/driver/torvex64.sys"
[ $status -eq 0 ] && echo "$(basename "$zip"): $(printf '%s\n' "$found" | wc -l) files as expected"
exit $status
