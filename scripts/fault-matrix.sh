#!/usr/bin/env bash
# Runs the fault matrix (the real program under Wine against the endpoint's fault modes, four scenarios
# side by side) and the forged-installer count, and writes both to docs/fault-matrix.md.
#   scripts/fault-matrix.sh              exit status 1 when a scenario failed (the page is written anyway)
#   scripts/fault-matrix.sh --page-only  the page from the results of the last run (scripts/test.sh runs
#                                        the matrix too), without running it again
set -uo pipefail
cd "$(dirname "$0")/.."
results=build/native/e2e/matrix-results
status=0
if [ "${1:-}" != "--page-only" ]; then
  scripts/ensure-deps.sh || exit 1
  scripts/build.sh windows native || exit 1
  rm -rf "$results"
fi
source scripts/wine-session.sh
wine_session_start "$PWD/build/wineprefix"
if [ "${1:-}" != "--page-only" ]; then
  ctest --preset e2e -R 'FaultMatrix'
  status=$?
fi
ls "$results"/*.tsv >/dev/null 2>&1 || { echo "no matrix results in $results" >&2; exit 1; }

# The forged installers: how many pass the size and byte-sum check, and how many the signed digest.
forged_json=$PWD/build/forged-installers.json
(cd build/windows/payload && wine ./forged_installer_win_test.exe --gtest_output="json:Z:$forged_json" >/dev/null 2>&1)
figure() { grep -o "\"$1\": *\"\?[0-9]*" "$forged_json" 2>/dev/null | grep -o '[0-9]*$' || echo "?"; }
forged=$(figure forged)
unsigned=$(figure accepted_by_size_and_checksum)
signed=$(figure accepted_with_signed_digest)

page=docs/fault-matrix.md
mkdir -p docs
{
  echo "# Fault matrix"
  echo
  echo "Made by \`scripts/fault-matrix.sh\` on $(date -u '+%Y-%m-%d') ($(uname -m), $(nproc) cores, $(wine --version 2>/dev/null))."
  echo "Each scenario runs the real \`InternetSetup.exe\` under Wine in a prefix of its own, against the"
  echo "reference endpoint misbehaving as described, and asserts exactly one launch (at most one where the row"
  echo "says Wine may fail to start the file), of the expected file with the expected bytes, the status shown"
  echo "and the time bound (\`tests/e2e/fault_matrix_e2e_test.cpp\`). Rows that say \"under Wine\" behave"
  echo "differently on Windows, as the test's comments explain."
  echo
  cat "$results"/*.tsv | awk -F'\t' '
    { n++; if ($7 == "pass") ok++; if ($6 + 0 > longest) { longest = $6 + 0; name = $1 "/" $2 } }
    END {
      printf "**%d of %d scenarios passed**; the longest run took %.1f s (%s).\n\n", ok, n, longest, name
    }'
  echo "Forged installers (same size and byte sum as the real one, other code): the size and byte-sum"
  echo "check accepts **$unsigned of $forged**; a build with an update key, checking the signed SHA-256,"
  echo "accepts **$signed of $forged**."
  echo
  echo "| Group | Scenario | What happens | Expected | Observed | Seconds | Result |"
  echo "|---|---|---|---|---|---:|---|"
  cat "$results"/*.tsv | awk -F'\t' '
    { gsub(/\|/, "\\|", $3); printf "| %s | %s | %s | %s | %s | %.1f | %s |\n", $1, $2, $3, $4, $5, $6, $7 }'
} >"$page"
echo "wrote $page"
exit $status
