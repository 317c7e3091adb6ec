#!/usr/bin/env bash
# Builds both sides and runs every test: the portable core natively (ASan + UBSan), the Windows-side
# tests under Wine, the end-to-end runs of the real program, a short seeded run of each fuzz target
# (clang, libFuzzer) and the threaded tests under ThreadSanitizer. Ends with one "N passed, M failed" line.
# What can overlap does: only what the end-to-end runs need is built first; those runs, which mostly wait
# on the program's pauses and time-outs, then go on beside the rest of the builds (at a lower priority)
# and the other tests. First of all, scripts/check-deps.py checks that every folder depends downwards
# only. Each stage's output is in build/logs.
set -uo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
stage() { echo "== [$1/5] $2 ($((SECONDS - started)) s so far)"; }
mkdir -p build/logs

stage 1 "packages, the folders' dependency graph"
scripts/ensure-deps.sh || { echo "tests: 0 passed, 1 failed (packages missing)"; exit 1; }
scripts/check-deps.py native windows >build/logs/check-deps.log 2>&1 ||
  { cat build/logs/check-deps.log; echo "tests: 0 passed, 1 failed (a folder depends upwards)"; exit 1; }
echo "   $(tail -1 build/logs/check-deps.log)"
stage 2 "building what the end-to-end runs need, cross and native side by side"
scripts/build.sh --side-by-side windows:e2e_programs native:e2e_tests ||
  { echo "tests: 0 passed, 1 failed (the build failed)"; exit 1; }

stage 3 "starting the Wine session"
source scripts/wine-session.sh
wine_session_start "$PWD/build/wineprefix"
# The end-to-end scenarios copy a template prefix: a copy of the fresh one that build.sh made.
wine_fresh_copy build/native/e2e/wine-template
export INTERNETSETUP_WINE_TEMPLATE_KEEP=1
background=()
at_exit 'kill "${background[@]}" 2>/dev/null'

# The matrix rows write their results here; only this run's may be there for the page.
rm -rf build/native/e2e/matrix-results
run_preset() { ctest --preset "$1" >"build/ctest-$1.log" 2>&1; }
# How far the presets that are running have got: CTest's last "N/M Test" line of each.
running_tests() {
  local line="" preset n
  for preset in native windows e2e fuzz tsan; do
    [ -f "build/ctest-$preset.log" ] || continue
    grep -qE '^[0-9]+% tests passed' "build/ctest-$preset.log" && continue
    n=$(grep -oE '^ *[0-9]+/[0-9]+ Test' "build/ctest-$preset.log" | tail -1 | tr -d ' ' | sed 's/Test//')
    line+=" $preset ${n:-starting}"
  done
  [ -z "$line" ] || echo "   tests:$line"
}
summary_of() { grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "build/ctest-$1.log" | tail -1; }
rm -f build/ctest-*.log

stage 4 "end-to-end runs in the background; beside them the other builds, then the other tests"
run_preset e2e &
e2e=$!
background+=("$e2e")
(while sleep 30; do running_tests; done) &
background+=("$!")
status=0
nice -n 10 scripts/build.sh --side-by-side windows native fuzz tsan || status=1
for preset in native windows fuzz tsan; do
  run_preset "$preset" || status=1
  echo "   $preset: $(summary_of "$preset") ($((SECONDS - started)) s so far)"
done
stage 5 "waiting for the end-to-end runs"
wait "$e2e" || status=1
echo "   e2e: $(summary_of e2e)"

passed=0
failed=0
for preset in native windows e2e fuzz tsan; do
  summary=$(summary_of "$preset")
  if [ -z "$summary" ]; then
    echo "== ctest --preset $preset gave no summary; the end of build/ctest-$preset.log:"
    tail -30 "build/ctest-$preset.log"
    status=1
    continue
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  if [ "$bad" -gt 0 ]; then
    status=1
    echo "== ctest --preset $preset: failed tests"
    sed -n '/^The following tests FAILED:/,$p' "build/ctest-$preset.log"
  fi
done
echo "== done in $((SECONDS - started)) s"
echo "tests: $passed passed, $failed failed"
exit $status
