#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless every DLL the PE file imports is one of the given names
# (compared without regard to case), and it imports at least one:
#   check_imports.sh <objdump> <file> <dll>...
# Exit status: 0 only allowed DLLs, 1 another DLL, 2 cannot read the file.
set -u
. "$(dirname "$0")/pe_headers.sh"
shift 2
imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
if [ -z "$imports" ]; then
  echo "FAIL: no import table found in $file"
  exit 1
fi
report_unlisted -qxiF "$imports" "$(printf '%s\n' "$@")" imports
[ $status -eq 0 ] && echo "imports of $(basename "$file"): $(echo $imports)"
exit $status
