#!/usr/bin/env bash
# Runs every test of the suite on a fresh machine: installs the dependencies,
# then two stages, each a build folder and a whole ctest run:
#   1. build/ (the compiler CMake finds, warnings as errors): unit tests and
#      the end-to-end tests through real CUPS;
#   2. build-san/ (clang, AddressSanitizer, UndefinedBehaviorSanitizer, leak
#      detection): the same suite again, the programs CUPS runs included,
#      plus a 30-second run of every fuzz target of fuzz/.
# Exits non-zero on any failure.
#
#   scripts/test.sh                   both stages (what CI runs)
#   scripts/test.sh --no-sanitize     stage 1 only
#   scripts/test.sh --sanitize-only   stage 2 only
# Any other arguments go to both ctest runs (e.g. -R dotfilter, -L unit).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

normal=1
sanitize=1
ctest_args=()
for arg in "$@"; do
  case "$arg" in
    --no-sanitize) sanitize=0 ;;
    --sanitize-only) normal=0 ;;
    *) ctest_args+=("$arg") ;;
  esac
done

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS

if [[ $normal -eq 1 ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILL_WERROR=ON
  cmake --build build -j"$jobs"
  (cd build && ctest --output-on-failure -j"$jobs" "${ctest_args[@]}")
  echo "test.sh: normal stage done after $((SECONDS - started)) s"
fi

if [[ $sanitize -eq 1 ]]; then
  san_started=$SECONDS
  # -O1 keeps the sanitized suite fast enough; the benchmarks are not run by
  # the tests, so they are not built here.
  CC=clang CXX=clang++ cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="-O1 -g" -DCMAKE_CXX_FLAGS="-O1 -g" \
    -DQUILL_SANITIZE=address,undefined -DQUILL_FUZZ=ON -DQUILL_BUILD_BENCH=OFF
  cmake --build build-san -j"$jobs"
  # Every test, and every program a test starts (cupsd passes these on to
  # the filters it runs), sees the same settings: leaks fail the program,
  # undefined behaviour stops it with a stack. fast_unwind_on_malloc=0: the
  # system libraries have no frame pointers, and the suppressions in
  # scripts/lsan.supp match frames inside them.
  export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:fast_unwind_on_malloc=0"
  export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  (cd build-san && ctest --output-on-failure -j"$jobs" "${ctest_args[@]}")
  echo "test.sh: sanitizer stage done after $((SECONDS - san_started)) s"
fi
echo "test.sh: all stages passed in $((SECONDS - started)) s"
