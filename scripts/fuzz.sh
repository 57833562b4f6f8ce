#!/usr/bin/env bash
# Long fuzz runs: scripts/fuzz.sh TARGET SECONDS
#
# TARGET is a fuzz target of fuzz/ without its prefix (print_data,
# doc_options, dcraster, image_page, ...). Builds the sanitizer build
# (build-san/, as scripts/test.sh configures it) when the target is missing
# or stale, then runs the target for SECONDS over the corpus kept in
# build-san/fuzz-work/TARGET/corpus (seeded from the build's seed corpus;
# it grows from run to run) and prints executions, coverage, corpus size
# and findings. Findings land in build-san/fuzz-work/TARGET/artifacts.
# Exit status 0 when the run found nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ $# -ne 2 ]]; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS" >&2
  exit 2
fi
target=$1
seconds=$2

if [[ ! -f build-san/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="-O1 -g" -DCMAKE_CXX_FLAGS="-O1 -g" \
    -DQUILL_SANITIZE=address,undefined -DQUILL_FUZZ=ON -DQUILL_BUILD_BENCH=OFF >/dev/null
fi
cmake --build build-san -j"$(nproc 2>/dev/null || echo 2)" --target "fuzz_$target" quill_fuzz_seeds >/dev/null

work=build-san/fuzz-work/$target
exec fuzz/run_fuzzer.sh "build-san/fuzz/fuzz_$target" "build-san/fuzz/seeds/$target" "$seconds" \
  "$work/corpus" "fuzz/$target.dict"
