#!/usr/bin/env bash
# Configures and builds the given presets (each with its own jobs setting), then makes sure the shared
# Wine prefix build/wineprefix exists before tests start Wine side by side.
#   scripts/build.sh windows native [fuzz tsan ...]          one after the other, ninja's output as it comes
#   scripts/build.sh --side-by-side windows native [...]     all at once, each into build/logs/build-PRESET.log,
#                                                            with a line of progress every 15 s
#   PRESET:TARGET in place of a preset builds only that target of it (log build-PRESET-TARGET.log);
#   PRESET:"A B" builds those targets
set -euo pipefail
cd "$(dirname "$0")/.."
build_one() {
  local preset=${1%%:*} target=()
  [ "$preset" = "$1" ] || target=(--target ${1#*:})
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "${target[@]}"
}
log_of() { local name=${1/:/-}; echo "build/logs/build-${name// /-}.log"; }

# A fresh prefix that no program ever runs in: the source of the shared one and of the end-to-end
# template (scripts/test.sh), so that Wine builds a prefix once per tree. Wine makes it (about 10 s,
# mostly waiting) while the builds run.
source scripts/wine-session.sh
mkdir -p build
prefix_job=""
if [ ! -f "$wine_fresh/system.reg" ]; then
  wine_fresh_prefix &
  prefix_job=$!
fi
prefix_ready() {
  [ -z "$prefix_job" ] || wait "$prefix_job"
  [ -f build/wineprefix/system.reg ] || wine_fresh_copy build/wineprefix
}
if [ "${1:-}" = --side-by-side ]; then
  shift
  mkdir -p build/logs
  declare -A jobs=()
  for preset in "$@"; do
    build_one "$preset" >"$(log_of "$preset")" 2>&1 &
    jobs[$preset]=$!
  done
  # Ninja's last "[done/total]" of each log, until every build has ended.
  progress() {
    local line=""
    for preset in "$@"; do
      local step
      step=$(grep -oE '^\[[0-9]+/[0-9]+\]' "$(log_of "$preset")" 2>/dev/null | tail -1)
      line+=" $preset ${step:-[configuring]}"
    done
    echo "   building:$line"
  }
  while sleep 15; do
    running=0
    for preset in "$@"; do kill -0 "${jobs[$preset]}" 2>/dev/null && running=1; done
    [ "$running" = 1 ] || break
    progress "$@"
  done
  failed=()
  for preset in "$@"; do wait "${jobs[$preset]}" || failed+=("$preset"); done
  for preset in "${failed[@]}"; do
    echo "== the $preset build failed; the end of $(log_of "$preset"):"
    tail -30 "$(log_of "$preset")"
  done
  ((${#failed[@]} == 0)) || exit 1
  echo "   built: $*"
else
  for preset in "$@"; do build_one "$preset"; done
fi
prefix_ready
