#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks test-signed drivers against the certificate that signed them:
#   check_signature.sh <cert.pem> <signed.sys>...
# osslsigncode must accept each image, and reject a copy of it with one byte
# of code changed (file offset 0x410, inside the first section), naming the
# digest mismatch. Exit status: 0 all as expected, 1 otherwise.
set -u
[ $# -ge 2 ] || { echo "usage: $0 <cert.pem> <signed.sys>..." >&2; exit 2; }
cert=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { cat "$work/out"; echo "FAIL: $*"; status=1; }
verify() { osslsigncode verify -CAfile "$cert" -in "$1" >"$work/out" 2>&1; }
for sys in "$@"; do
  name=$(basename "$sys")
  if verify "$sys"; then echo "$name: signature verified"; else fail "$name: signature not accepted"; fi
  cp "$sys" "$work/$name"
  byte=$(od -An -tu1 -j1040 -N1 "$sys" | tr -d ' ')
  # shellcheck disable=SC2059
  printf "$(printf '\\%03o' $((255 - byte)))" | dd of="$work/$name" bs=1 seek=1040 conv=notrunc 2>/dev/null
  if verify "$work/$name"; then
    fail "$name: a copy with one byte changed was accepted"
  elif grep -q 'MISMATCH' "$work/out"; then
    echo "$name: copy with one byte changed rejected (digest mismatch)"
  else
    fail "$name: the changed copy was rejected for another reason"
  fi
done
exit $status
