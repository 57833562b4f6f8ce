#!/usr/bin/env bash
# Runs one fuzz target for a while over a corpus folder and prints a summary.
#
#   fuzz/run_fuzzer.sh BINARY SEEDS SECONDS CORPUS [DICT]
#
# BINARY  the libFuzzer program (build-san/fuzz/fuzz_NAME)
# SEEDS   the seed folder written at build time (build-san/fuzz/seeds/NAME)
# CORPUS  the folder the run reads and grows; the seeds are copied in first.
#         Findings (crash-*, leak-*, timeout-*, oom-*) land in CORPUS/../artifacts.
# DICT    an optional libFuzzer dictionary
#
# Exit status: 0 when the run found nothing, 1 otherwise. The summary gives
# the executions, the final coverage (cov: edges, ft: features), the corpus
# size and the findings.
set -uo pipefail
binary=$1
seeds=$2
seconds=$3
corpus=$4
dict=${5:-}

mkdir -p "$corpus"
artifacts="$(cd "$corpus/.." && pwd)/artifacts"
mkdir -p "$artifacts"
if [[ -d "$seeds" ]]; then cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true; fi
log="$(cd "$corpus/.." && pwd)/fuzz-$(basename "$binary").log"

# The fuzzer records a stack for every allocation; the fast unwinder keeps
# that cheap (the test suite's setting, fast_unwind_on_malloc=0, is for
# matching suppressions inside system libraries, which these targets do not
# need). Later entries win over earlier ones.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}:fast_unwind_on_malloc=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

args=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536
      -print_final_stats=1 -artifact_prefix="$artifacts/")
if [[ -n "$dict" && -f "$dict" ]]; then args+=(-dict="$dict"); fi
# Extra flags of a target: fuzz/NAME.flags, one flag per line.
name=$(basename "$binary")
flags="$(dirname "$0")/${name#fuzz_}.flags"
if [[ -f "$flags" ]]; then
  while read -r flag; do [[ -n "$flag" && "$flag" != \#* ]] && args+=("$flag"); done <"$flags"
fi

# Findings of this run only: artifacts newer than this mark.
mark="$artifacts/.run-start"
touch "$mark"
"$binary" "${args[@]}" "$corpus" >"$log" 2>&1
status=$?

last=$(grep -E '^#[0-9]+' "$log" | tail -1)
execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$')
cov=$(grep -oE 'cov: [0-9]+' <<<"$last" | grep -oE '[0-9]+')
ft=$(grep -oE 'ft: [0-9]+' <<<"$last" | grep -oE '[0-9]+')
files=$(find "$corpus" -type f | wc -l)
found=$(find "$artifacts" -type f -newer "$mark" \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) | wc -l)
echo "$(basename "$binary"): ${seconds}s, executions ${execs:-?}, cov ${cov:-?}, ft ${ft:-?}," \
     "corpus ${files} files, findings ${found} (exit ${status})"
if [[ $status -ne 0 || $found -ne 0 ]]; then
  grep -E 'ERROR|SUMMARY|runtime error|Test unit written|#[0-9]+ 0x' "$log" | head -40
  find "$artifacts" -type f -newer "$mark" | head
  echo "log: $log"
  exit 1
fi
exit 0
