#!/usr/bin/env bash
# run-fuzzer.sh FUZZER CORPUS SCRATCH ARTIFACTS [LIBFUZZER FLAGS...]: one bounded libFuzzer run.
# The scratch folder starts empty each time, so a run depends only on the committed corpus and the flags;
# libFuzzer writes new inputs into the first folder it is given (SCRATCH) and only reads CORPUS.
set -euo pipefail
fuzzer=$1 corpus=$2 scratch=$3 artifacts=$4
shift 4
name=$(basename "$fuzzer")
rm -rf "$scratch"
mkdir -p "$scratch" "$artifacts"
# The sanitizers stop at the first report; libFuzzer then saves the input and exits non-zero.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$fuzzer" -artifact_prefix="$artifacts/$name-" -print_final_stats=1 "$@" "$scratch" "$corpus"
