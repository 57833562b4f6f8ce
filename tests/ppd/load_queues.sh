#!/usr/bin/env bash
# Many jobs at once on one print server: every job completes and prints
# the same bytes as every other job of its queue.
#
#   load_queues.sh <build dir> <jobs> <ppd>...
#
# One private cupsd (scripts/lib/private-cupsd.sh: a Unix socket, the build
# tree's quillfilter and quilldot beside CUPS's filters) with a queue per
# generated PPD, with the demo's queue options (scripts/lib/quill-models.sh)
# and the device quilljob:<folder> (tests/ppd/quilljob: each job into a
# file of its own). <jobs> lp commands run at the same time, job i printing
# the CUPS test page on queue i mod <number of queues>. Then, within 5
# minutes:
#   - every job is completed (the ones that are not are named, with their
#     state, and the test fails);
#   - every job's bytes equal those of the first job of its queue.
# Why the outputs of one queue can be equal although the even-toned screen
# (every quillfilter PPD) draws its first error line from rand(): nothing in
# a filter process seeds rand(), so each one starts from the C library's
# fixed initial seed; and the screen clears its error line on a row of
# paper, which every page's first row is (every PPD's imageable area starts
# below the sheet's top edge), so the random start never decides a dot.
# quilldot prints gstoraster's dots and draws nothing. What this test
# catches: a filter whose bytes depend on the time, the process, the other
# jobs running beside it or the order of the jobs, a lost or cut job, a
# hung job.
# Needs root (cupsd runs filters unprivileged only when started by root):
# skipped (77) otherwise.
set -euo pipefail
build=$1
jobs=$2
shift 2
ppds=("$@")

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=queue_test_setup.sh
source "$here/queue_test_setup.sh"
queue_test_setup load

pcupsd_start "$tmp/cups" --filter "$build/filter/quillfilter" --filter "$build/dotfilter/quilldot" \
  --backend "$here/quilljob" --conf "MaxJobs 0" --conf "PreserveJobHistory Yes" ||
  fail "cupsd did not start"
out=$tmp/out
mkdir -p "$out"
chmod 0777 "$out"  # the backend runs as the server's unprivileged user

queues=()
for ppd in "${ppds[@]}"; do
  model=$(quill_model "$ppd")
  mapfile -t options < <(quill_queue_options "$model")
  msg=$(timeout 60 lpadmin -p "$model" -E -v "quilljob:$out" -P "$build/ppd/$ppd" \
    -o printer-error-policy=abort-job "${options[@]}" 2>&1) || fail "lpadmin -p $model: $msg"
  queues+=("$model")
done

# All lp commands at once.
started=$SECONDS
submitters=()
for ((i = 0; i < jobs; i++)); do
  queue=${queues[i % ${#queues[@]}]}
  (pcupsd_submit "$queue" "$testpage" >"$tmp/job-$i.id") &
  submitters+=($!)
done
for pid in "${submitters[@]}"; do wait "$pid" || true; done
declare -A queue_of
for ((i = 0; i < jobs; i++)); do
  id=$(cat "$tmp/job-$i.id")
  [[ -n "$id" ]] || fail "lp of job $i printed no job id"
  queue_of[$id]=${queues[i % ${#queues[@]}]}
done
echo "$jobs jobs submitted on ${#queues[@]} queues"

waited=ok
pcupsd_wait_jobs 300 || waited=
echo "waited $((SECONDS - started)) s for the jobs"
bad=0
declare -A first
for id in $(printf '%s\n' "${!queue_of[@]}" | sort -n); do
  queue=${queue_of[$id]}
  state=$(pcupsd_job_state "$id")
  file=$out/$queue-$id.prn
  if [[ "$state" != completed ]]; then
    echo "job $id on $queue: ${state:-not done (hung)}" >&2
    bad=1
  elif [[ ! -s "$file" ]]; then
    echo "job $id on $queue: completed without printer bytes" >&2
    bad=1
  elif [[ -z "${first[$queue]:-}" ]]; then
    first[$queue]=$file
  elif ! cmp -s "${first[$queue]}" "$file"; then
    echo "job $id on $queue: bytes differ from the queue's first job ($(cmp "${first[$queue]}" "$file" 2>&1 | head -1))" >&2
    bad=1
  fi
done
[[ -n "$waited" ]] || fail "jobs did not complete within 300 s"
[[ $bad -eq 0 ]] || fail "not every job printed its queue's bytes"
for queue in "${queues[@]}"; do
  [[ -n "${first[$queue]:-}" ]] || continue
  n=$(ls "$out/$queue"-*.prn | wc -l)
  echo "$queue: $n job(s), $(stat -c %s "${first[$queue]}") bytes each, all equal"
done
