#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails unless each PE file carries a version resource for the given version:
# FileVersion and ProductVersion equal to it, OriginalFilename equal to the
# file's own name, a FileDescription and a LegalCopyright.
#   check_version_resource.sh <version> <file>...
# Exit status: 0 all match, 1 otherwise, 2 a file cannot be read.
set -u
version=$1
shift
status=0
for file in "$@"; do
  [ -r "$file" ] || { echo "FAIL: cannot read $file"; status=2; continue; }
  name=$(basename "$file")
  # The resource's texts are UTF-16LE; each key is followed by its value.
  texts=$(strings -a -n 1 -el "$file")
  value() { printf '%s\n' "$texts" | sed -n "/^$1\$/{n;p;q}"; }
  printf '%s\n' "$texts" | grep -qx VS_VERSION_INFO || { echo "FAIL: $name has no version resource"; status=1; continue; }
  for key in FileVersion ProductVersion; do
    [ "$(value $key)" = "$version" ] || { echo "FAIL: $name $key is '$(value $key)', not '$version'"; status=1; }
  done
  [ "$(value OriginalFilename)" = "$name" ] || { echo "FAIL: $name OriginalFilename is '$(value OriginalFilename)'"; status=1; }
  for key in FileDescription LegalCopyright; do
    [ -n "$(value $key)" ] || { echo "FAIL: $name has no $key"; status=1; }
  done
  [ $status -eq 0 ] && echo "$name: version $version, $(value FileDescription)"
done
exit $status
