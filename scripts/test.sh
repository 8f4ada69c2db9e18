#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds every preset and runs every test:
#   native   libspifns.so, unit and integration tests, the tool's tests, benchmark smoke run
#   asan     the same under AddressSanitizer + UndefinedBehaviorSanitizer (and LeakSanitizer)
#   mingw32  spifns.dll, the kernel-mode port driver and the Win32 test hosts, run under Wine
#   mingw64  the x64 port driver, signed, serving the 32-bit hosts through WoW64 under Wine
#   fuzz     libFuzzer targets, each run for a bounded time
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p build
bash scripts/setup.sh || exit 1

# One count of the <testsuite> element of a CTest JUnit report ($junit).
junit_count() { sed -n "s/^[[:space:]]*$1=\"\([0-9]*\)\".*/\1/p" "$junit" 2>/dev/null | head -n 1; }

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
  # Compiler warnings, and configure warnings such as tests left out for a missing tool.
  grep -E 'warning:' "build/$preset.log" | sort -u | head -n 20
  grep -A 2 '^CMake Warning' "build/$preset.log" | head -n 20
  echo "=== $preset: test"
  # The verdict comes from ctest's exit status; the counts from its JUnit report.
  junit="$PWD/build/$preset-junit.xml"
  rm -f "$junit"
  ctest --preset "$preset" -j"$jobs" --no-tests=error --output-junit "$junit" >>"build/$preset.log" 2>&1
  rc=$?
  n_all=$(junit_count tests) n_fail=$(junit_count failures)
  n_skip=$(junit_count skipped) n_off=$(junit_count disabled)
  if [ -z "$n_all" ] || [ -z "$n_fail" ]; then
    n_all=1 n_fail=1 n_skip=0 n_off=0 # no report: the run itself failed
  elif [ "$rc" -ne 0 ] && [ "$n_fail" -eq 0 ]; then
    # Nothing failed yet ctest did: tests that could not run (a failed fixture).
    n_fail=$((n_skip > 0 ? n_skip : 1)) n_skip=0
  fi
  n_pass=$((n_all - n_fail - n_skip - n_off))
  if [ "$n_pass" -le 0 ] && [ "$n_fail" -eq 0 ]; then
    # A preset whose tests all went missing or were skipped proves nothing.
    echo "$preset: no test ran"
    rc=1 n_fail=1
  fi
  echo "$preset: $n_pass passed, $n_fail failed"
  total_pass=$((total_pass + n_pass))
  total_fail=$((total_fail + n_fail))
  if [ "$rc" -ne 0 ]; then
    tail -n 80 "build/$preset.log"
    echo "(whole log: build/$preset.log)"
    failed_presets+=("$preset")
    continue
  fi
  rm -f "build/$preset.log"
done

echo
[ "${#failed_presets[@]}" -gt 0 ] && echo "failing presets: ${failed_presets[*]}"
echo "all presets: $total_pass passed, $total_fail failed"
[ "${#failed_presets[@]}" -eq 0 ]
