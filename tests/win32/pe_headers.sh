# SPDX-License-Identifier: MIT
# Sourced by the check scripts, whose first two arguments are <objdump> <file>:
# sets objdump, file and headers (the file's private headers, objdump -p);
# exits with status 2 when objdump cannot read the file. Sets status to 0.
objdump=$1 file=$2
headers=$("$objdump" -p "$file" 2>/dev/null) || { echo "FAIL: $objdump cannot read $file"; exit 2; }
status=0

# report_unlisted <grep options> <words> <lines> <what>: prints
# "FAIL: <what> <word>" for every word that is not one of the lines (as the
# grep options compare them, e.g. -qxiF without regard to case) and sets
# status to 1 when there is one.
report_unlisted() {
  for word in $2; do
    printf '%s\n' "$3" | grep "$1" -- "$word" || { echo "FAIL: $4 $word"; status=1; }
  done
}
