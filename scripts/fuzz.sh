#!/usr/bin/env bash
# Long fuzz runs, apart from the short seeded ones of scripts/test.sh:
#   scripts/fuzz.sh [SECONDS] [TARGET...] [-- LIBFUZZER FLAGS...]
# Runs each target (default: all of tests/fuzz) for SECONDS (default 600) one after another. Inputs found
# are kept in build/fuzz/corpus-long/TARGET and grow from run to run; the committed corpus is only read.
# A crash leaves its input in build/fuzz/artifacts; reproduce it with build/fuzz/tests/fuzz/TARGET FILE.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=600
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=()
while [[ $# -gt 0 && $1 != "--" ]]; do
  targets+=("$1")
  shift
done
[[ ${1:-} == "--" ]] && shift
extra=("$@")
if ((${#targets[@]} == 0)); then
  for dir in tests/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

scripts/ensure-deps.sh || exit 1
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1

failed=()
for target in "${targets[@]}"; do
  fuzzer=build/fuzz/tests/fuzz/$target
  [ -x "$fuzzer" ] || { echo "no fuzz target $target"; exit 2; }
  corpus=build/fuzz/corpus-long/$target
  mkdir -p "$corpus" build/fuzz/artifacts
  args=()
  [ "$target" = skin_description_fuzz ] && args+=(-dict=tests/fuzz/skin_description.dict)
  echo "== $target for ${seconds}s"
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
    "${args[@]}" "${extra[@]}" "$corpus" "tests/fuzz/corpus/$target" 2>&1 |
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::new_units_added|==[0-9]+==|SUMMARY|model mismatch|.*runtime error)'
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed+=("$target")
done
if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]} (inputs in build/fuzz/artifacts)"
  exit 1
fi
echo "fuzz: no findings in ${#targets[@]} targets"
