#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless the PE file's export table holds exactly the given names:
#   check_exports.sh <objdump> <file> <name>...
# Reports every missing and every extra name (a decorated name such as
# _spifns_init@0 or spifns_init@0 counts as extra, its plain form as missing).
# Exit status: 0 match, 1 mismatch, 2 cannot read the file.
set -u
. "$(dirname "$0")/pe_headers.sh"
shift 2
# Lines of the name table look like "	[   3] spifns_getvar".
found=$(printf '%s\n' "$headers" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\(.*\)$/\1/p' | sort)
expected=$(printf '%s\n' "$@" | sort)
report_unlisted -qxF "$expected" "$found" "missing export"
report_unlisted -qxF "$found" "$expected" "extra export"
[ $status -eq 0 ] && echo "exports of $(basename "$file"): exactly the $# expected names"
exit $status
