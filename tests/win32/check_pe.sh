#!/bin/sh
# Fails unless the file is a 32-bit (PE32, not PE32+) image for i386 of the
# given kind:
#   check_pe.sh <objdump> <file> dll|console|native
#   dll      a DLL (Characteristics has the DLL flag), Windows GUI/CUI subsystem
#   console  an executable for the console subsystem (3)
#   native   a kernel-mode image (native subsystem, 1); the DLL flag that the
#            MinGW link of a driver sets is allowed
# Exit status: 0 as expected, 1 otherwise, 2 cannot read the file.
set -u
. "$(dirname "$0")/pe_headers.sh"
kind=$3
header=$("$objdump" -f "$file" 2>/dev/null) || { echo "FAIL: $objdump cannot read $file"; exit 2; }
status=0
fail() { echo "FAIL: $*"; status=1; }
printf '%s\n' "$header" | grep -q 'file format pei-i386$' || fail "not a pei-i386 file"
printf '%s\n' "$header" | grep -q '^architecture: i386' || fail "architecture is not i386"
printf '%s\n' "$headers" | grep -q '^Magic[[:space:]]*010b' || fail "optional header is not PE32 (magic 010b)"
subsystem=$(printf '%s\n' "$headers" | sed -n 's/^Subsystem[[:space:]]*\([0-9a-fA-F]*\).*/\1/p')
is_dll=no
printf '%s\n' "$headers" | grep -q '^[[:space:]]*DLL$' && is_dll=yes
case $kind in
  dll)
    [ $is_dll = yes ] || fail "not a DLL"
    case $subsystem in 00000002|00000003) ;; *) fail "subsystem $subsystem is not Windows GUI/CUI" ;; esac ;;
  console)
    [ $is_dll = no ] || fail "is a DLL"
    [ "$subsystem" = 00000003 ] || fail "subsystem $subsystem is not console (3)" ;;
  native)
    [ "$subsystem" = 00000001 ] || fail "subsystem $subsystem is not native (1)" ;;
  *) echo "FAIL: unknown kind $kind"; exit 2 ;;
esac
[ $status -eq 0 ] && echo "$(basename "$file"): PE32 i386 $kind"
exit $status
