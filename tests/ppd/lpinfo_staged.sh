#!/usr/bin/env bash
# A print server with the staged install lists every generated PPD, takes
# queues made from them by name, and prints through both filters from its
# ServerBin.
#
#   lpinfo_staged.sh <build dir> <prefix> <ServerBin> <DataDir> <ppd>...
#
# Stages a system install (stage_install.sh, which also checks the layout)
# and starts a private cupsd (root in CI; skipped, status 77, otherwise) that
# listens on a Unix socket in a temporary folder only, with
#   - DataDir: the system's DataDir entries, but model/ = the staged
#     <DataDir>/model, whose link quill -> <prefix>/share/ppd/quill lets
#     the server find the PPDs as quill/<file>;
#   - ServerBin: the system's ServerBin entries, but filter/ = the system
#     filters plus the staged quillfilter and quilldot.
# Then:
#   1. lpinfo -m lists exactly the generated PPDs under quill/, each with
#      its *NickName as make and model;
#   2. lpadmin -m quill/<file> makes a queue of every model, whose
#      printer-make-and-model is that NickName;
#   3. the CUPS test page printed to the one-ink inkjet and to the 58 mm
#      receipt printer completes, and the printer bytes begin as those
#      printers' jobs do.
# cupsd is stopped by its pid; every wait is bounded.
set -euo pipefail
build=$1
prefix=$2
serverbin=$3
datadir=$4
shift 4
ppds=("$@")

cupsd=/usr/sbin/cupsd
testpage=$datadir/data/default-testpage.pdf
for tool in "$cupsd" /usr/sbin/lpinfo /usr/sbin/lpadmin /usr/bin/lp /usr/bin/lpstat /usr/bin/lpoptions; do
  [[ -x "$tool" ]] || { echo "SKIP: $tool is not installed"; exit 77; }
done
[[ -r "$testpage" ]] || { echo "SKIP: no CUPS test page ($testpage)"; exit 77; }
[[ $(id -u) -eq 0 ]] || { echo "SKIP: a private cupsd needs root to run its filters"; exit 77; }

here=$(dirname "$0")
# shellcheck source=stage_install.sh
source "$here/stage_install.sh"
# shellcheck source=../../scripts/lib/private-cupsd.sh
source "$here/../../scripts/lib/private-cupsd.sh"

tmp=$(mktemp -d /tmp/quill-ppd-lpinfo-XXXXXX)
chmod 755 "$tmp"
root=$tmp/cups
fail() {
  echo "FAIL: $*" >&2
  if [[ -f "$root/log/error_log" ]]; then
    echo "--- cupsd error log (last 60 lines)" >&2
    tail -n 60 "$root/log/error_log" >&2
  fi
  exit 1
}
trap 'rm -rf "$tmp"' EXIT

stage=$tmp/stage
stage_install "$build" "$stage" "$prefix" "$serverbin" "${ppds[@]}" || fail "staged install"

# The install links <DataDir>/model/quill to <prefix>/share/ppd/quill; the
# server's model/ is the staged one, so it finds the PPDs through that link.
[[ -L "$stage$datadir/model/quill" ]] || fail "the install made no link $datadir/model/quill"
filters=()
for f in "$stage$serverbin"/filter/*; do filters+=(--filter "$f"); done
pcupsd_start "$root" --serverbin "$serverbin" "${filters[@]}" \
  --datadir "$datadir" --model "$stage$datadir/model" \
  --conf "MaxJobs 0" --conf "PreserveJobHistory Yes" || fail "cupsd did not start"
mkdir -p "$root/out"

nickname() { sed -n 's/^\*NickName: *"\(.*\)"$/\1/p' "$build/ppd/$1"; }

# 1. The model list.
expected=$(for ppd in "${ppds[@]}"; do echo "quill/$ppd $(nickname "$ppd")"; done | sort)
listed=$(timeout 120 lpinfo -m | grep '^quill/' | sort) || fail "lpinfo -m failed"
if [[ "$listed" != "$expected" ]]; then
  diff <(echo "$expected") <(echo "$listed") >&2 || true
  fail "lpinfo -m does not list the generated PPDs (< expected, > listed)"
fi
echo "lpinfo -m lists ${#ppds[@]} quill models"

# 2. One queue per model, made from its name in the list. (A failing
# device aborts the job instead of holding the queue.)
for ppd in "${ppds[@]}"; do
  queue=${ppd%.ppd}
  timeout 60 lpadmin -p "$queue" -E -v "file://$root/out/$queue.prn" -m "quill/$ppd" \
    -o printer-error-policy=abort-job \
    >"$tmp/lpadmin.out" 2>&1 || { cat "$tmp/lpadmin.out" >&2; fail "lpadmin -m quill/$ppd"; }
  grep -v "Printer drivers are deprecated" "$tmp/lpadmin.out" || true
  model=$(timeout 30 lpoptions -p "$queue" | grep -o "printer-make-and-model='[^']*'" || true)
  [[ "$model" == "printer-make-and-model='$(nickname "$ppd")'" ]] ||
    fail "queue $queue from quill/$ppd: $model"
done
echo "lpadmin -m made a queue of every model"

# 3. Jobs through both filters, run by cupsd from its ServerBin.
hex() { od -An -tx1 | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }
# print_and_check <queue> <hex of the first bytes> <hex of the last bytes>
print_and_check() {
  local queue=$1 head=$2 tail=$3
  local out=$root/out/$queue.prn
  local id
  id=$(pcupsd_submit "$queue" "$testpage") || fail "lp -d $queue"
  pcupsd_wait_jobs 120 ||
    fail "job $id on $queue did not complete: $(lpstat -l -o "$queue" | tr -s '\n\t' '  ')"
  [[ -s "$out" ]] || fail "no printer bytes from $queue"
  local first last
  first=$(head -c $(( (${#head} + 1) / 3 )) "$out" | hex)
  last=$(tail -c $(( (${#tail} + 1) / 3 )) "$out" | hex)
  [[ "$first" == "$head" && "$last" == "$tail" ]] ||
    fail "$queue printed $first ... $last, expected $head ... $tail"
  echo "$queue: $(stat -c %s "$out") bytes, $head ... $tail"
}
# The one-ink inkjet: reset and the long start-of-document command of a
# 360 dpi job; at the end the page eject (CR FF).
print_and_check quill-ink1 "1b 40 1b 1d 1e 00 0c 04 1b 1d 1f 1b 78 03" "0d 0c"
# The receipt printer: reset, print-area width; at the end the full cut
# after the page (the queue's Cutting default 6, which quilldot can only
# have read from this server), the page-end block and the reset.
print_and_check quill-rp58 "1b 40 1d 57" "1d 56 41 18 1b 1d 1e 04 32 00 c8 1b 1d 1f 1b 40"
