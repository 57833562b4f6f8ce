#!/usr/bin/env bash
# The suite's main job, on a fresh Debian machine: prints the CUPS test page
# (/usr/share/cups/data/default-testpage.pdf) through every PPD the build
# generates (build/ppd/quill-*.ppd) and shows what each printer would print.
#
# For every model M (quill-M.ppd) it writes out/M.prn, the printer bytes, and
# out/M-<page>.png, the pages as quillpreview decodes them from those bytes,
# and prints one line per job: model, how it was printed, pages, bytes,
# seconds and quillpreview's summary of each page. The route:
#   - cupsfilter (pdftopdf, gstoraster, then quillfilter or quilldot) for
#     the models that need nothing but their PPD;
#   - lp to a queue of a private cupsd (scripts/lib/private-cupsd.sh, a Unix
#     socket in a scratch folder, file: device) for the models whose job
#     needs a queue setting (scripts/lib/quill-models.sh): ink3 with the
#     queue option CustomColorMode=2 (black and red), the receipt printers
#     with their queue's Cutting default (a cut after the page).
# Then two library hosts: the page-language inkjet (ink2) and the thermal
# printer (thermal) through quillconvert, from the page rendered as a picture.
# Last, driverless: quill-printer-app on a private loopback port
# (scripts/lib/printer-app.sh) with one printer per driver on a file://
# device, each printing the test page as PDF with its defaults: out/app-D.prn
# and out/app-D-<page>.png for driver quill_D.
#
# Installs the Debian packages it needs, builds what it runs and installs
# it into a scratch prefix; both cupsfilter and the private cupsd run the
# filters of that install, from a ServerBin holding CUPS's filters and ours.
# Run as root (or with sudo at hand, for the packages; cupsd runs filters as
# an unprivileged user only when started by root).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" \
  --target quillcore quillfilter quilldot quillconvert quillpreview quill_ppds quill-printer-app \
  >/dev/null

# shellcheck source=scripts/lib/private-cupsd.sh
source scripts/lib/private-cupsd.sh
# shellcheck source=scripts/lib/quill-models.sh
source scripts/lib/quill-models.sh

testpage=/usr/share/cups/data/default-testpage.pdf
work=$(mktemp -d /tmp/quill-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT

fail() {  # what log-file
  echo "demo: $1 failed; its messages:" >&2
  tail -n 60 "$2" >&2
  exit 1
}

# CUPS runs filters as an unprivileged user and refuses filters that others
# may write: the scratch install is root-owned, 0755, readable by all.
chmod 0755 "$work"
cmake --install build --prefix "$work/prefix" >/dev/null
chmod -R go-w,a+rX "$work/prefix"
filter_dir=$work/prefix/lib/cups/filter
preview=$work/prefix/bin/quillpreview
mkdir -p out
rm -f out/*.prn out/*.png

# The private server; its cups-files.conf (ServerBin with our filters) also
# serves cupsfilter, so every PPD is used exactly as generated.
pcupsd_start "$work/cups" --filter "$filter_dir/quillfilter" --filter "$filter_dir/quilldot" ||
  fail "starting cupsd" "$work/cups/log/stdout"
cups_files=$work/cups/conf/cups-files.conf

now() { date +%s.%N; }
# report MODEL ROUTE START END: previews out/MODEL.prn into out/MODEL-N.png
# and prints the job's line.
report() {
  local model=$1 route=$2 seconds bytes pages summary
  seconds=$(awk -v a="$3" -v b="$4" 'BEGIN { printf "%.2f", b - a }')
  bytes=$(stat -c %s "out/$model.prn")
  "$preview" -o "out/$model" "out/$model.prn" >"$work/$model.preview" 2>&1 ||
    fail "quillpreview of out/$model.prn" "$work/$model.preview"
  pages=$(grep -c '^page [0-9]*:' "$work/$model.preview" || true)
  # "page 1: serial 3060x3960 at 360x360 dpi, ... -> out/ink1-1.png": the
  # part between the page number and the file, pages joined by " | ".
  summary=$(sed -n -E 's/^page ([0-9]+): (.*) -> .*$/\2/p' "$work/$model.preview" |
    paste -sd'|' | sed 's/|/ | /g')
  printf '%-7s %-12s %2s page(s) %7s bytes %5s s  %s\n' \
    "$model" "$route" "$pages" "$bytes" "$seconds" "$summary"
}

# cupsfilter_job MODEL PPD: pdftopdf, gstoraster, then our filter. No
# scheduler is asked anything (CUPS_SERVER points at a port nobody serves).
cupsfilter_job() {
  local model=$1 ppd=$2 log=$work/$1.log start end
  start=$(now)
  CUPS_SERVER=127.0.0.1:9 TMPDIR=$work \
    cupsfilter -c "$cups_files" -e -p "$ppd" -m printer/foo "$testpage" \
    >"out/$model.prn" 2>"$log" || fail "$model" "$log"
  end=$(now)
  grep -q '^ERROR:' "$log" && fail "$model" "$log"
  report "$model" cupsfilter "$start" "$end"
}

# queue_job MODEL PPD: lp to a queue made from the PPD with the model's
# queue options; waits (at most 5 minutes) for the job to complete.
queue_job() {
  local model=$1 ppd=$2 start end id options=()
  mapfile -t options < <(quill_queue_options "$model")
  pcupsd_add_queue "quill-$model" "$ppd" "$work/$model.out" "${options[@]}" ||
    fail "making the queue of $model" "$PCUPSD_LOG"
  start=$(now)
  id=$(pcupsd_submit "quill-$model" "$testpage") || fail "lp to quill-$model" "$PCUPSD_LOG"
  pcupsd_wait_jobs 300 || fail "$model (job $id did not complete)" "$PCUPSD_LOG"
  end=$(now)
  [[ "$(pcupsd_job_state "$id")" == completed ]] ||
    fail "$model (job $id: $(pcupsd_job_state "$id"))" "$PCUPSD_LOG"
  cp "$work/$model.out" "out/$model.prn"
  report "$model" "queue" "$start" "$end"
}

echo "Printing $testpage"
for ppd in build/ppd/quill-*.ppd; do
  model=$(quill_model "$ppd")
  if quill_needs_queue "$model"; then
    queue_job "$model" "$top/$ppd"
  else
    cupsfilter_job "$model" "$top/$ppd"
  fi
done

# Library hosts: the page-language inkjet and the thermal printer through
# quillconvert, from the test page rendered as a picture.
pdftoppm -r 300 -gray -singlefile -png "$testpage" "$work/testpage300"
pdftoppm -r 203 -gray -singlefile -png "$testpage" "$work/testpage203"
convert_job() {  # model image [quillconvert options...]
  local model=$1 image=$2 start end
  shift 2
  start=$(now)
  "$work/prefix/bin/quillconvert" "$@" -o "out/$model.prn" "$image" 2>"$work/$model.log" ||
    fail "$model" "$work/$model.log"
  end=$(now)
  report "$model" quillconvert "$start" "$end"
}
convert_job ink2 "$work/testpage300.png" --class DocumentProcessInk2 -r 300 \
  --x-unit 300 --y-unit 300 --options "quality=2:grey=1"
convert_job thermal "$work/testpage203.png" --class DocumentProcessThermal -r 203 \
  --x-unit 203 --y-unit 203 --options "dither=2:max_width=1728"

# Driverless: the application's drivers, the test page as a PDF job each.
# shellcheck source=scripts/lib/printer-app.sh
source scripts/lib/printer-app.sh
APP_PROGRAM=$work/prefix/bin/quill-printer-app
APP_PPD_DIR=$work/prefix/share/ppd/quill
trap 'app_stop; rm -rf "$work"' EXIT
app_start "$work/app" || fail "starting quill-printer-app" "$work/app/server.out"
mapfile -t drivers < <(app_drivers)
for d in "${drivers[@]}"; do
  p=${d#quill_}
  mkdir -p "$work/app-out/$p"
  app_cmd add -d "$p" -v "file://$work/app-out/$p/" -m "$d" >/dev/null ||
    fail "adding the printer $p" "$work/app/app.log"
done
for d in "${drivers[@]}"; do
  p=${d#quill_}
  start=$(now)
  read -r id state <<<"$(app_print "$p" "$testpage")"
  end=$(now)
  [[ $state == completed ]] || fail "the app job on $p (job $id: $state)" "$work/app/app.log"
  cp "$(ls "$work/app-out/$p"/*.prn | tail -1)" "out/app-$p.prn"
  report "app-$p" "app (pdf)" "$start" "$end"
done

echo "Printer bytes and their pages are in $top/out/"
