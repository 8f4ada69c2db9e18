# SPDX-License-Identifier: MIT
# Sourced by the check scripts, whose first two arguments are <objdump> <file>:
# sets objdump, file and headers (the file's private headers, objdump -p);
# exits with status 2 when objdump cannot read the file.
objdump=$1 file=$2
headers=$("$objdump" -p "$file" 2>/dev/null) || { echo "FAIL: $objdump cannot read $file"; exit 2; }
