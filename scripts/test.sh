#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds every preset and runs every test:
#   native   libspifns.so, unit and integration tests, the tool's tests, benchmark smoke run
#   asan     the same under AddressSanitizer + UndefinedBehaviorSanitizer (and LeakSanitizer)
#   mingw32  spifns.dll, the kernel-mode port driver and the Win32 test hosts, run under Wine
#   mingw64  the x64 port driver, signed, serving the 32-bit hosts through WoW64 under Wine
#   fuzz     libFuzzer targets, each run for a bounded time
#
# Under CI (CI set to anything but "", "0" or "false") warnings are errors in
# the project's own code, and a test that cannot run here (a locale, a program
# missing) fails instead of being skipped: any skip fails the run.
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p build
bash scripts/setup.sh || exit 1

# Under CI warnings become errors; otherwise the build keeps its setting.
case ${CI:-} in
  '' | 0 | [Ff][Aa][Ll][Ss][Ee]) ci=false strict=() ;;
  *) ci=true strict=(-DSPIFNS_WERROR=ON) ;;
esac

# Reads a CTest JUnit report: prints "<passed> <failed> <skipped>", then one
# line per test that did not pass. Skipped are the tests that skipped
# themselves (SKIP_RETURN_CODE, SKIP_REGULAR_EXPRESSION) and disabled ones;
# a test that could not be started (missing program, failed fixture) failed.
junit_counts() {
  python3 - "$1" <<'EOF_PY'
import sys
import xml.etree.ElementTree as ET

try:
    cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
except (OSError, ET.ParseError) as e:
    print(f"0 1 0\nno test report: {e}")
    sys.exit()
counts = {"passed": 0, "failed": 0, "skipped": 0}
notes = []
for case in cases:
    status, name = case.get("status"), case.get("name")
    skipped = case.find("skipped")
    reason = skipped.get("message", "") if skipped is not None else ""
    if status == "run":
        counts["passed"] += 1
        continue
    if status == "disabled" or (status == "notrun" and reason.startswith("SKIP_")):
        kind = "skipped"
    else:
        kind = "failed"
    counts[kind] += 1
    notes.append(f"  {kind}: {name}" + (f" ({reason})" if reason else ""))
print(counts["passed"], counts["failed"], counts["skipped"])
print("\n".join(notes))
EOF_PY
}

total_pass=0
total_fail=0
total_skip=0
failed_presets=()
for preset in native asan mingw32 mingw64 fuzz; do
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" "${strict[@]}" >"build/$preset.log" 2>&1; then
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
  report=$(junit_counts "$junit")
  read -r n_pass n_fail n_skip <<<"$report"
  if [ "$rc" -ne 0 ] && [ "$n_fail" -eq 0 ]; then
    n_fail=1 # ctest failed, yet no test did: the run itself
  fi
  if [ "$n_pass" -eq 0 ] && [ "$n_fail" -eq 0 ]; then
    # A preset whose tests all went missing or were skipped proves nothing.
    echo "$preset: no test ran"
    rc=1 n_fail=1
  fi
  echo "$preset: $n_pass passed, $n_fail failed, $n_skip skipped"
  notes=$(tail -n +2 <<<"$report")
  [ -n "$notes" ] && echo "$notes"
  if [ "$ci" = true ] && [ "$n_skip" -gt 0 ]; then
    echo "$preset: CI is set: a skipped test fails the run"
    rc=1
  fi
  total_pass=$((total_pass + n_pass))
  total_fail=$((total_fail + n_fail))
  total_skip=$((total_skip + n_skip))
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
echo "all presets: $total_pass passed, $total_fail failed, $total_skip skipped"
[ "${#failed_presets[@]}" -eq 0 ]
