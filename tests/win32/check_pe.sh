#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless the file is a Windows image of the given kind:
#   check_pe.sh <objdump> <file> dll|console|native|native64
#   dll       32-bit DLL (Characteristics has the DLL flag), Windows GUI/CUI subsystem
#   console   32-bit executable for the console subsystem (3)
#   native    32-bit kernel-mode image (native subsystem, 1)
#   native64  x64 kernel-mode image: PE32+, x86-64, native subsystem, with
#             unwind tables (.pdata)
# 32-bit images are PE32 for i386. Kernel-mode images must have a nonzero
# entry address, a base-relocation directory (the kernel loads drivers at an
# address of its choosing) and no section both writable and executable; the
# DLL flag that the MinGW link of a driver sets is allowed.
# Exit status: 0 as expected, 1 otherwise, 2 cannot read the file.
set -u
. "$(dirname "$0")/pe_headers.sh"
kind=$3
header=$("$objdump" -f "$file" 2>/dev/null) || { echo "FAIL: $objdump cannot read $file"; exit 2; }
fail() { echo "FAIL: $*"; status=1; }
has() { printf '%s\n' "$1" | grep -q "$2"; }
# Size of data directory entry n (objdump: "Entry n <address> <size> <name>").
directory_size() { printf '%s\n' "$headers" | awk -v n="$1" '$1 == "Entry" && $2 == n { print $4 }'; }
case $kind in
  native64) format=pei-x86-64 arch=i386:x86-64 magic=020b pe=PE32+ ;;
  *) format=pei-i386 arch=i386 magic=010b pe=PE32 ;;
esac
has "$header" "file format $format\$" || fail "not a $format file"
has "$header" "^architecture: $arch," || fail "architecture is not $arch"
has "$headers" "^Magic[[:space:]]*$magic" || fail "optional header is not $pe (magic $magic)"
subsystem=$(printf '%s\n' "$headers" | sed -n 's/^Subsystem[[:space:]]*\([0-9a-fA-F]*\).*/\1/p')
is_dll=no
has "$headers" '^[[:space:]]*DLL$' && is_dll=yes
case $kind in
  dll)
    [ $is_dll = yes ] || fail "not a DLL"
    case $subsystem in 00000002|00000003) ;; *) fail "subsystem $subsystem is not Windows GUI/CUI" ;; esac ;;
  console)
    [ $is_dll = no ] || fail "is a DLL"
    [ "$subsystem" = 00000003 ] || fail "subsystem $subsystem is not console (3)" ;;
  native|native64)
    [ "$subsystem" = 00000001 ] || fail "subsystem $subsystem is not native (1)"
    has "$headers" '^AddressOfEntryPoint[[:space:]]*0*[1-9a-fA-F]' || fail "entry address is 0"
    case $(directory_size 5) in ''|00000000) fail "no base-relocation directory" ;; esac
    # Memory integrity loads no driver with a section both writable and executable.
    wx=$("$objdump" -h "$file" | awk '/^ *[0-9]+ / { name = $2; next }
      /CODE/ && !/READONLY/ { printf " %s", name }')
    [ -z "$wx" ] || fail "writable code section:$wx"
    if [ $kind = native64 ]; then
      case $(directory_size 3) in ''|00000000) fail "no unwind tables (.pdata)" ;; esac
    fi ;;
  *) echo "FAIL: unknown kind $kind"; exit 2 ;;
esac
[ $status -eq 0 ] && echo "$(basename "$file"): $pe $arch $kind"
exit $status
