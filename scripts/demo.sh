#!/usr/bin/env bash
# The suite's main job, on a fresh Debian machine: prints the CUPS test page
# (/usr/share/cups/data/default-testpage.pdf) for every printer family and
# writes the printer bytes to out/*.prn:
#
#   ink1-mono.prn      serial inkjet, one ink      cupsfilter -> quillfilter
#   ink3-redblack.prn  serial inkjet, black + red  private cupsd queue -> quillfilter
#   dot24.prn          24-pin, black + red ribbon  cupsfilter -> quillfilter
#   dm24.prn           24-pin dot matrix           cupsfilter -> quilldot
#   receipt.prn        80 mm receipt printer       cupsfilter -> quilldot
#   ink2.prn           page-language inkjet        quillconvert (library host)
#   thermal.prn        thermal printer             quillconvert (library host)
#
# For each job it prints the pages, bytes and seconds. The filters run from
# a scratch install of this tree (cmake --install), with the PPDs compiled into
# build/ppd/ whose *cupsFilter points at that install.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target quillcore quillfilter quilldot quillconvert quill_ppds >/dev/null

testpage=/usr/share/cups/data/default-testpage.pdf
# shellcheck source=lib/private-cupsd.sh
source scripts/lib/private-cupsd.sh
work=$(mktemp -d /tmp/quill-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT

# CUPS runs filters as an unprivileged user and refuses filters that others
# may write: the scratch install is root-owned, 0755, readable by all.
chmod 0755 "$work"
cmake --install build --prefix "$work/prefix" >/dev/null
chmod -R go-w,a+rX "$work/prefix"
filters=$work/prefix/lib/cups/filter
mkdir -p out

# ppd_for FILE: a copy of the generated build/ppd/FILE whose *cupsFilter names the scratch install.
ppd_for() {
  sed -E "s#(application/vnd\.cups-raster [0-9]+ )(quill[a-z]+)\"#\1$filters/\2\"#" \
    "build/ppd/$1" >"$work/$1"
  chmod 0644 "$work/$1"
  echo "$work/$1"
}

now() { date +%s.%N; }
report() {  # name pages file start end
  local bytes
  bytes=$(stat -c %s "$3")
  printf '%-18s %2s page(s) %9s bytes %6.2f s   %s\n' "$1" "$2" "$bytes" \
    "$(awk -v a="$4" -v b="$5" 'BEGIN { print b - a }')" "$3"
}
fail() {
  echo "demo: $1 failed; its messages:" >&2
  cat "$2" >&2
  exit 1
}

# Jobs through cupsfilter: pdftopdf, gstoraster, then our filter.
cupsfilter_job() {  # name ppd-file page-pattern [cupsfilter options...]
  local name=$1 ppd=$2 pattern=$3
  shift 3
  local log=$work/$name.log start end pages
  start=$(now)
  CUPS_SERVER=127.0.0.1:9 TMPDIR=$work \
    cupsfilter -e -p "$(ppd_for "$ppd")" -m printer/foo "$@" "$testpage" \
    >"out/$name.prn" 2>"$log" || fail "$name" "$log"
  end=$(now)
  grep -q '^ERROR:' "$log" && fail "$name" "$log"
  pages=$(grep -oE "$pattern" "$log" | sort -u | wc -l)
  report "$name" "$pages" "out/$name.prn" "$start" "$end"
}

echo "Printing $testpage"
cupsfilter_job ink1-mono quill-ink1.ppd 'INFO: \[quillfilter\] page [0-9]+, 1/'
cupsfilter_job dot24 quill-dot24.ppd 'INFO: \[quillfilter\] page [0-9]+, 1/'
cupsfilter_job dm24 quill-dm24.ppd '^PAGE: [0-9]+, 1/'
cupsfilter_job receipt quill-rp80.ppd '^PAGE: [0-9]+, 1/'

# The red/black choice is a queue option, which only a print server has: a
# private cupsd on a loopback port with a file: queue.
redblack_job() {
  local root=$work/cups start end id state pages
  pcupsd_start "$root" --port --serverbin /usr/lib/cups --datadir /usr/share/cups ||
    fail "starting cupsd" "$root/log/stdout"

  local output=$work/ink3.prn
  : >"$output"
  chmod 0666 "$output"
  # (lpadmin warns that PPD-based drivers are deprecated; they still work.)
  lpadmin -p quill-redblack -E -v "file://$output" -P "$(ppd_for quill-ink3.ppd)" \
    -o CustomColorMode=2 2>/dev/null
  start=$(now)
  id=$(lp -d quill-redblack "$testpage" | sed -E 's/.*quill-redblack-([0-9]+).*/\1/')
  state=
  for _ in $(seq 600); do
    state=$(lpstat -W completed -o quill-redblack 2>/dev/null | grep -c "quill-redblack-$id " || true)
    [[ "$state" != 0 ]] && break
    sleep 0.2
  done
  end=$(now)
  [[ "$state" != 0 ]] || fail "ink3-redblack (job $id did not complete)" "$root/log/error_log"
  cp "$output" out/ink3-redblack.prn
  # The filter's INFO line of every page's first copy becomes the job's
  # state message.
  pages=$(grep -oE "\[Job $id\] Set job-printer-state-message to \"\[quillfilter\] page [0-9]+, 1/" \
    "$root/log/error_log" | sort -u | wc -l)
  report ink3-redblack "$pages" out/ink3-redblack.prn "$start" "$end"
  pcupsd_stop
}
redblack_job

# Library hosts: the page-language inkjet and the thermal printer through
# quillconvert, from the test page rendered as a picture.
pdftoppm -r 300 -gray -singlefile -png "$testpage" "$work/testpage300"
pdftoppm -r 203 -gray -singlefile -png "$testpage" "$work/testpage203"
convert_job() {  # name image [quillconvert options...]
  local name=$1 image=$2 start end
  shift 2
  start=$(now)
  "$work/prefix/bin/quillconvert" "$@" -o "out/$name.prn" "$image" 2>"$work/$name.log" ||
    fail "$name" "$work/$name.log"
  end=$(now)
  report "$name" 1 "out/$name.prn" "$start" "$end"
}
convert_job ink2 "$work/testpage300.png" --class DocumentProcessInk2 -r 300 \
  --x-unit 300 --y-unit 300 --options "quality=2:grey=1"
convert_job thermal "$work/testpage203.png" --class DocumentProcessThermal -r 203 \
  --x-unit 203 --y-unit 203 --options "dither=2:max_width=1728"

echo "Printer bytes are in $top/out/"
