#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs a build into a fresh prefix, checks the installed layout, then
# builds consumer.c against it once through find_package and once through
# pkg-config, and runs both and the installed spitool; builds it once more
# against the build tree's package. A staged install (DESTDIR) for the
# prefix /usr gives a spifns.pc whose flags pkg-config leaves empty but -l.
#   consumers.sh <cmake> <build dir> <work dir> <C compiler> <libdir>
set -eu
cmake=$1 build=$2 work=$3 cc=$4 libdir=$5
src=$(cd "$(dirname "$0")" && pwd)
prefix=$work/prefix
lib=$prefix/$libdir
status=0
fail() { echo "FAIL: $*"; status=1; }

rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"

# The versioned library: the file named after the full version, the SONAME
# link for programs, the plain link for linkers.
version=$(sed -n 's/^Version: //p' "$lib/pkgconfig/spifns.pc")
major=${version%%.*}
if [ ! -f "$lib/libspifns.so.$version" ] || [ -L "$lib/libspifns.so.$version" ]; then
  fail "no file libspifns.so.$version"
fi
[ "$(readlink "$lib/libspifns.so.$major")" = "libspifns.so.$version" ] || fail "libspifns.so.$major is not a link to libspifns.so.$version"
[ "$(readlink "$lib/libspifns.so")" = "libspifns.so.$major" ] || fail "libspifns.so is not a link to libspifns.so.$major"
readelf -d "$lib/libspifns.so.$version" | grep -q "(SONAME).*\[libspifns.so.$major\]" || fail "SONAME is not libspifns.so.$major"
for h in spifns.h spifns_exports.h simport.h; do
  [ -f "$prefix/include/$h" ] || fail "include/$h not installed"
done

# Installed, spitool finds the library in the library directory.
probe=$("$prefix/bin/spitool" --sim probe 2>&1) || true
[ "$probe" = running ] || fail "installed spitool --sim probe: $probe"

expected="interface 0x103, ports 1:LPT1 3:LPT3"
run_consumer() { # <how> <program> [environment...]
  how=$1 program=$2
  shift 2
  out=$(env "$@" "$program") || fail "$how consumer exited with $?"
  [ "$out" = "$expected" ] || fail "$how consumer printed '$out', not '$expected'"
  readelf -d "$program" | grep -q "(NEEDED).*\[libspifns.so.$major\]" || fail "$how consumer does not need libspifns.so.$major"
  [ $status -eq 0 ] && echo "$how consumer: $out"
}

# find_package <how> <package directory> [cache settings...]: builds and runs the consumer.
find_package() {
  how=$1 dir=$2
  shift 2
  log=$work/$how.log
  "$cmake" -S "$src" -B "$work/$how" -DCMAKE_C_COMPILER="$cc" "$@" >"$log" 2>&1 ||
    { cat "$log"; fail "$how consumer: configure failed"; exit 1; }
  grep -q "spifns $version found in $dir\$" "$log" || fail "$how: find_package did not report spifns $version in $dir"
  "$cmake" --build "$work/$how" >>"$log" 2>&1 || { cat "$log"; fail "$how consumer: build failed"; exit 1; }
  run_consumer "$how" "$work/$how/consumer"
}
find_package find_package "$lib/cmake/spifns" -DCMAKE_PREFIX_PATH="$prefix"
find_package build_tree "$build" -Dspifns_DIR="$build"

export PKG_CONFIG_PATH="$lib/pkgconfig"
[ "$(pkg-config --modversion spifns)" = "$version" ] || fail "pkg-config --modversion differs from $version"
# shellcheck disable=SC2046 # the flags are words
"$cc" -std=c11 -Wall -Wextra -Werror "$src/consumer.c" $(pkg-config --cflags --libs spifns) -o "$work/consumer_pc" ||
  { fail "pkg-config consumer: build failed"; exit 1; }
run_consumer pkg-config "$work/consumer_pc" LD_LIBRARY_PATH="$lib"

DESTDIR=$work/stage "$cmake" --install "$build" --prefix /usr --component spifns_development >>"$work/install.log"
pc=$work/stage/usr/$libdir/pkgconfig/spifns.pc
grep -qx 'prefix=/usr' "$pc" || fail "staged spifns.pc: $(grep '^prefix=' "$pc")"
# shellcheck disable=SC2046 # the flags are words
set -- $(PKG_CONFIG_PATH=${pc%/*} pkg-config --cflags --libs spifns)
[ "$*" = -lspifns ] || fail "pkg-config flags for the prefix /usr: $*"
exit $status
