#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test:
#   native   libspifns.so, unit and integration tests, the tool's tests, benchmark smoke run
#   asan     the same under AddressSanitizer + UndefinedBehaviorSanitizer (and LeakSanitizer)
#   mingw32  spifns.dll, the kernel-mode port driver and the Win32 test hosts, run under Wine
#   fuzz     libFuzzer targets, each run for a bounded time
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p build
bash scripts/setup.sh || exit 1

total_pass=0
total_fail=0
failed_presets=()
for preset in native asan mingw32 mingw64 fuzz; do
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >"build/$preset.log" 2>&1; then
    cat "build/$preset.log"; failed_presets+=("$preset"); total_fail=$((total_fail + 1)); continue
  fi
  if ! cmake --build --preset "$preset" -j"$jobs" >>"build/$preset.log" 2>&1; then
    tail -n 60 "build/$preset.log"; failed_presets+=("$preset"); total_fail=$((total_fail + 1)); continue
  fi
  grep -E 'warning:' "build/$preset.log" | sort -u | head -n 20
  echo "=== $preset: test"
  out=$(ctest --preset "$preset" -j"$jobs" 2>&1)
  rc=$?
  printf '%s\n' "$out" | grep -E '^\s*[0-9]+/[0-9]+ Test|tests passed|tests failed|Failed|\*\*\*' | tail -n 400
  line=$(printf '%s\n' "$out" | grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' | tail -n 1)
  if [ -n "$line" ]; then
    n_fail=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    n_all=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    total_pass=$((total_pass + n_all - n_fail))
    total_fail=$((total_fail + n_fail))
  fi
  if [ "$rc" -ne 0 ]; then
    printf '%s\n' "$out" | tail -n 80
    failed_presets+=("$preset")
    [ -z "$line" ] && total_fail=$((total_fail + 1))
  fi
  rm -f "build/$preset.log"
done

echo
[ "${#failed_presets[@]}" -gt 0 ] && echo "failing presets: ${failed_presets[*]}"
echo "all presets: $total_pass passed, $total_fail failed"
[ "${#failed_presets[@]}" -eq 0 ]
