#!/bin/sh
# SPDX-License-Identifier: MIT
# Configures a host project that adds spifns with add_subdirectory: by
# default it gets the library, no test, no tool and no man page; with
# -DSPIFNS_BUILD_TESTS=ON it gets spifns's tests.
#   subproject.sh <cmake> <ctest> <spifns source dir> <work dir>
set -eu
cmake=$1 ctest=$2 spifns=$3 work=$4
src=$(cd "$(dirname "$0")" && pwd)/subproject
status=0
fail() { echo "FAIL: $*"; status=1; }

rm -rf "$work"
mkdir -p "$work"
# configure <build dir> [cache settings...]: the host project's build tree.
configure() {
  dir=$work/$1
  shift
  "$cmake" -G "Unix Makefiles" -S "$src" -B "$dir" -DSPIFNS_SOURCE_DIR="$spifns" "$@" >"$dir.log" 2>&1 ||
    { cat "$dir.log"; echo "FAIL: configuring $dir"; exit 1; }
}
# The number of tests in a build tree, as ctest lists them.
test_count() { "$ctest" --test-dir "$1" -N 2>/dev/null | sed -n 's/^Total Tests: //p'; }

configure plain
n=$(test_count "$work/plain")
[ "$n" = 0 ] || fail "spifns added $n tests"
targets=$("$cmake" --build "$work/plain" --target help)
echo "$targets" | grep -q '[. ]spifns$' || fail "no spifns library target"
echo "$targets" | grep spitool && fail "spitool built"
grep -l 'man1\|completions' $(find "$work/plain" -name cmake_install.cmake) && fail "a man page or completion installed"

configure asked -DSPIFNS_BUILD_TESTS=ON
[ "$(test_count "$work/asked")" -gt 0 ] || fail "-DSPIFNS_BUILD_TESTS=ON added no test"
[ $status -eq 0 ] && echo "add_subdirectory: the library only; its tests when asked"
exit $status
