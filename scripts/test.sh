#!/usr/bin/env bash
# Builds both sides and runs every test: the portable core natively (ASan + UBSan), the Windows-side
# tests under Wine, the end-to-end runs of the real program, a short seeded run of each fuzz target
# (clang, libFuzzer) and the threaded tests under ThreadSanitizer. Ends with one "N passed, M failed" line.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh || exit 1
scripts/build.sh windows native fuzz tsan || { echo "tests: 0 passed, 1 failed (the build failed)"; exit 1; }
source scripts/display.sh
export WINEDEBUG=-all WINEPREFIX=$PWD/build/wineprefix
# One wineserver for the whole run: a server that exits as its last program ends can turn away a test
# program starting in that very moment (a Windows test failing in 0.01 s without any output).
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
# The prefix's services start with the first program and live as long as the server; started here with
# no output of ours, so that they do not hold a test's output open until the run ends.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

# The matrix rows write their results here; only this run's may be there for the page.
rm -rf build/native/e2e/matrix-results
passed=0
failed=0
status=0
for preset in native windows e2e fuzz tsan; do
  echo "== ctest --preset $preset"
  ctest --preset "$preset" 2>&1 | tee "build/ctest-$preset.log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "build/ctest-$preset.log" | tail -1)
  if [ -z "$summary" ]; then
    status=1
    continue
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done
echo "tests: $passed passed, $failed failed"
exit $status
