#!/usr/bin/env bash
# quill-printer-app end to end: every driver as an IPP Everywhere printer.
#
#   app_e2e.sh <build dir> <testpage_compare>
#
# Starts the application from the build tree on a private loopback port
# with a temporary state, spool and socket (scripts/lib/printer-app.sh), makes two printers
# per driver on file:// devices (one for ipptool, one for the pages below)
# and then, per driver:
#   1. ipptool -t ipp-everywhere.test (with ipp-1.1 and ipp-2.0 through its
#      includes, the CUPS test page as its print file): no FAIL; one summary
#      line per driver;
#   2. the CUPS test page printed as PWG raster (rendered by Ghostscript for
#      the printer's default resolution, sheet and colour mode), as JPEG
#      (the page at the printer's resolution, printed unscaled) and as PDF
#      (our Ghostscript filter); each output decoded by the preview library
#      and compared with the page (Ghostscript's rendering of it, or the
#      picture itself), ink per 1 cm cell (testpage_compare);
#   3. byte equality: the raster every job's engine received (the raster
#      copy) printed by quillfilter or quilldot with the model's PPD gives
#      the job's bytes; the PDF job prints the PWG job's bytes on the
#      families the library screens (the same Ghostscript rendering);
#   4. printers printing at once print what they print alone;
#   5. Cancel-Job stops a long job (the time it took is reported, not
#      judged: no test asserts on wall-clock time);
#   6. a CUPS client: a queue made with lpadmin -m everywhere on the private
#      cupsd prints the test page through the application (black and red).
# Exit 0 when all hold; 77 (skipped) without root, ipptool, gs or netpbm.
set -uo pipefail
build=$(cd "$1" && pwd)
compare=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "$0")" && pwd)
[[ -x "$build/app/quill-printer-app" ]] || { echo "SKIP: no quill-printer-app"; exit 77; }
# shellcheck source=../ppd/queue_test_setup.sh
source "$here/../ppd/queue_test_setup.sh"
queue_test_setup app ipptool gs ppmtoppm
# shellcheck source=../../scripts/lib/printer-app.sh
source "$here/../../scripts/lib/printer-app.sh"
keep=${QUILL_KEEP_TMP:-0}
trap 'app_stop; if [[ $keep == 1 ]]; then echo "kept $tmp"; else rm -rf "$tmp"; fi' EXIT
app_fail() {
  [[ -f "$tmp/app/app.log" ]] && grep -E '^[EW] ' "$tmp/app/app.log" | grep -v DNS-SD | tail -20
  fail "$@"
}

app_start "$tmp/app" || app_fail "quill-printer-app did not start: $(cat "$tmp/app/server.out" 2>/dev/null)"
mapfile -t drivers < <(app_drivers)
[[ ${#drivers[@]} -ge 15 ]] || app_fail "only ${#drivers[@]} drivers"
for d in "${drivers[@]}"; do
  p=${d#quill_}
  mkdir -p "$tmp/out/$p" "$tmp/ipp/$p"
  app_cmd add -d "$p" -v "file://$tmp/out/$p/" -m "$d" || app_fail "add $p"
  app_cmd add -d "$p-ipp" -v "file://$tmp/ipp/$p/" -m "$d" || app_fail "add $p-ipp"
done
sleep 1  # printer-up-time counts whole seconds from the printer's start

# render_ref OUT COLOR XRES YRES W H: the test page as Ghostscript renders
# it onto W x H dots, as a P6 file: in colour for a colour job, otherwise
# in Ghostscript's grey (what the job's grey page holds) as grey RGB.
render_ref() {
  local out=$1 color=$2 xr=$3 yr=$4 w=$5 h=$6
  if [[ $color == color ]]; then
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r"${xr}x${yr}" -g"${w}x${h}" \
      -dFIXEDMEDIA -dPDFFitPage -sOutputFile="$out" "$testpage"
  else
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -r"${xr}x${yr}" -g"${w}x${h}" \
      -dFIXEDMEDIA -dPDFFitPage -sOutputFile="$out.pgm" "$testpage" &&
      ppmtoppm <"$out.pgm" >"$out" && rm -f "$out.pgm"
  fi
}

# The quillfilter or quilldot PPD of a driver ("" for the families only the
# library hosts serve).
ppd_of() {
  case $1 in
    quill_ink2_*|quill_thermal_*) echo "" ;;
    *) echo "$build/ppd/quill-${1#quill_}.ppd" ;;
  esac
}

# Sheet size in dots from a PWG media name, as PAPPL computes it
# (hundredths of millimetres times the resolution over 2540, truncated).
sheet_dots() {  # media xres yres
  awk -v m="$1" -v xr="$2" -v yr="$3" 'BEGIN {
    n = split(m, part, "_"); dims = part[n]; unit = substr(dims, length(dims) - 1)
    dims = substr(dims, 1, length(dims) - 2); split(dims, wh, "x")
    if (unit == "in") { w = int(wh[1] * 2540 + 0.5); h = int(wh[2] * 2540 + 0.5) }
    else { w = int(wh[1] * 100 + 0.5); h = int(wh[2] * 100 + 0.5) }
    printf "%d %d %d %d", int(w * xr / 2540), int(h * yr / 2540), w, h }'
}

status=0
ipp_pids=()
doc_pids=()

# print_docs PRINTER RES COLOR: the test page as PWG raster, JPEG and PDF on
# PRINTER, one job after the other; keeps PRINTER-DOC.prn (the output) and
# PRINTER-DOC.ras (the raster copy); says nothing unless a job fails.
print_docs() {
  local p=$1 res=$2 color=$3 doc file id state out extra attrs
  attrs=(resolution printer-resolution "${res}dpi" keyword print-color-mode "$color")
  for doc in pwg jpg pdf; do
    file=$tmp/$p.$doc
    [[ $doc == pdf ]] && file=$testpage
    extra=()
    [[ $doc == jpg ]] && extra=(keyword print-scaling none)
    read -r id state <<<"$(app_print "$p" "$file" "${attrs[@]}" "${extra[@]}")"
    [[ "$state" == completed ]] || { echo "$p $doc: job ${id:-?} $state"; continue; }
    out=$(ls "$tmp/out/$p"/*.prn | sort | tail -1)
    cp "$out" "$tmp/$p-$doc.prn"
    cp "$tmp/app/ras/$p-$id.ras" "$tmp/$p-$doc.ras" 2>/dev/null || true
  done
}
for d in "${drivers[@]}"; do
  p=${d#quill_}
  read -r res media color <<<"$(app_defaults "$p")"
  xres=${res%x*} yres=${res#*x}
  read -r W H wh hh <<<"$(sheet_dots "$media" "$xres" "$yres")"
  space=18; [[ $color == color ]] && space=19
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -dcupsColorSpace=$space -dcupsBitsPerColor=8 \
    -r"${xres}x${yres}" -g"${W}x${H}" -dFIXEDMEDIA -dPDFFitPage -sOutputFile="$tmp/$p.pwg" \
    "$testpage" || app_fail "gs pwgraster for $p"
  render_ref "$tmp/$p.ppm" "$color" "$xres" "$yres" "$W" "$H" || app_fail "gs reference for $p"

  # 1. IPP Everywhere, on the driver's second printer, while the pages
  # below print on its first: all drivers' runs at once.
  ipptool -t -T 60 -f "$tmp/$p.pwg" "$(app_uri "$p-ipp")" ipp-everywhere.test \
    >"$tmp/$p-ipp.txt" 2>&1 &
  ipp_pids+=($!)

  # 2. The test page as PWG raster, JPEG and PDF, every driver's three
  # jobs one after the other, the drivers at once.
  jpeg=jpeggray; [[ $color == color ]] && jpeg=jpeg
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=$jpeg -dJPEGQ=95 -r"$xres" \
    -g"$((wh * xres / 2540))x$((hh * xres / 2540))" -dFIXEDMEDIA -dPDFFitPage \
    -sOutputFile="$tmp/$p.jpg" "$testpage" || app_fail "gs jpeg for $p"
  print_docs "$p" "$res" "$color" >"$tmp/$p-docs.txt" 2>&1 &
  doc_pids+=($!)
done
wait "${doc_pids[@]}"
for d in "${drivers[@]}"; do
  p=${d#quill_}
  if [[ -s "$tmp/$p-docs.txt" ]]; then
    cat "$tmp/$p-docs.txt"
    status=1
  fi
done
wait "${ipp_pids[@]}"
echo "== IPP Everywhere (ipptool -t ipp-everywhere.test, the test page as print file)"
for d in "${drivers[@]}"; do
  p=${d#quill_}
  pass=$(grep -c '\[PASS\]' "$tmp/$p-ipp.txt"); failed=$(grep -c '\[FAIL\]' "$tmp/$p-ipp.txt")
  skip=$(grep -c '\[SKIP\]' "$tmp/$p-ipp.txt")
  printf '%-14s ipp-everywhere.test: %d passed, %d failed, %d skipped\n' "$p" "$pass" "$failed" "$skip"
  if [[ $failed -ne 0 ]]; then
    status=1
    grep -A12 '\[FAIL\]' "$tmp/$p-ipp.txt"
  fi
done

# 3. Byte equality: each raster copy through the filter of its model, in a
# queue of a private cupsd with the model's PPD at its defaults (the
# application's defaults are the PPDs'), one queue per job.
pcupsd_start "$tmp/cups" --filter "$build/filter/quillfilter" --filter "$build/dotfilter/quilldot" ||
  fail "cupsd did not start"
declare -A queue_job
for d in "${drivers[@]}"; do
  p=${d#quill_}
  ppd=$(ppd_of "$d")
  [[ -n "$ppd" ]] || continue
  for doc in pwg jpg pdf; do
    [[ -f "$tmp/$p-$doc.ras" ]] || continue
    pcupsd_add_queue "$p-$doc" "$ppd" "$tmp/$p-$doc.filter" || fail "queue $p-$doc"
    queue_job[$p-$doc]=$(pcupsd_submit "$p-$doc" "$tmp/$p-$doc.ras") || fail "lp $p-$doc"
  done
done
pcupsd_wait_jobs 300 || fail "the filters' jobs did not complete"
echo "== Byte equality with the filters (the raster each job's engine got, through a queue of the model's PPD)"
for d in "${drivers[@]}"; do
  p=${d#quill_}
  line="$p:"
  for doc in pwg jpg pdf; do
    if [[ -z "${queue_job[$p-$doc]:-}" ]]; then
      line+=" $doc -"
    elif cmp -s "$tmp/$p-$doc.filter" "$tmp/$p-$doc.prn"; then
      line+=" $doc equal ($(stat -c %s "$tmp/$p-$doc.prn") bytes)"
    else
      line+=" $doc DIFFERS ($(stat -c %s "$tmp/$p-$doc.prn") vs $(stat -c %s "$tmp/$p-$doc.filter") bytes)"
      status=1
    fi
  done
  # The PDF pages are Ghostscript's rendering of the PWG pages: same bytes.
  if cmp -s "$tmp/$p-pwg.prn" "$tmp/$p-pdf.prn"; then line+="; pdf = pwg"; else line+="; pdf != pwg"; status=1; fi
  echo "$line"
done

# 4. What each output prints, against the page as Ghostscript renders it.
echo "== Each output against the page (ink per 1 cm cell)"
printf '%-12s %-4s %-6s %8s %8s %8s %9s\n' driver doc ink ours% gs% worst tolerance
for d in "${drivers[@]}"; do
  p=${d#quill_}
  read -r res media color <<<"$(app_defaults "$p")"
  xres=${res%x*} yres=${res#*x}
  read -r W H wh hh <<<"$(sheet_dots "$media" "$xres" "$yres")"
  args=(--tone gamma --sheet "${W}x${H}")
  case $d in
    quill_ink1*|quill_ink3) args+=(--gamma 2.2) ;;
    *) args+=(--gamma 1) ;;
  esac
  if [[ $color == color ]]; then
    if [[ $d == quill_ink2_color ]]; then args+=(--planes cyan,magenta,yellow); else args+=(--planes black,red); fi
  fi
  for doc in pwg jpg pdf; do
    ref=$tmp/$p.ppm
    # The picture is the page at the printer's resolution, printed as it is
    # (print-scaling none); on square resolutions it is its own reference.
    [[ $doc == jpg && $xres == "$yres" ]] && ref=$tmp/$p.jpg
    result=$("$compare" --prn "$tmp/$p-$doc.prn" --ref "$ref" "${args[@]}" 2>&1) || status=1
    awk -v m="$p" -v r="$doc" '/^(black|red|cyan|magenta|yellow) / {
        printf "%-12s %-4s %-6s %8s %8s %8s %9s %s\n", m, r, $1, $3, $5, $8, $12, $13; next }
      { print m " " r ": " $0 }' <<<"$result"
  done
done

# 4. Printers printing at once: every pair's jobs together, twice, each
# output must be the bytes the printer printed alone.
echo "== Printers printing at once"
pairs=("ink3 dot24" "ink1 ink2_color" "dm24 rp80" "ink1l dm360" "thermal_80 ij720")
for round in 1 2; do
  for pair in "${pairs[@]}"; do
    pids=()
    for p in $pair; do
      read -r res _ color <<<"$(app_defaults "$p")"
      app_print "$p" "$tmp/$p.pwg" resolution printer-resolution "${res}dpi" \
        keyword print-color-mode "$color" >"$tmp/$p-at-once.state" &
      pids+=($!)
    done
    wait "${pids[@]}"
    for p in $pair; do
      out=$(ls "$tmp/out/$p"/*.prn | sort | tail -1)
      if cmp -s "$out" "$tmp/$p-pwg.prn"; then
        echo "round $round: $p (with $pair) prints its bytes alone"
      else
        echo "round $round: $p (with $pair) DIFFERS from its job alone"
        status=1
      fi
    done
  done
done

# 5. Cancel-Job in the middle of a long job: a PDF of 100 test pages at
# 720 dpi on the long-head inkjet, cancelled once a page is out.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$tmp/long.pdf" \
  $(for i in $(seq 100); do echo "$testpage"; done) || fail "gs pdfwrite"
ipp_header='GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri'
cat >"$tmp/cancel.test" <<TEST
{ NAME "Print-Job" OPERATION Print-Job
  $ipp_header
  ATTR name requesting-user-name \$user
  ATTR mimeMediaType document-format application/pdf
  GROUP job-attributes-tag
  ATTR resolution printer-resolution 720dpi
  FILE \$filename
  STATUS successful-ok
  EXPECT job-id
  DISPLAY job-id
}
{ NAME "Wait until a page is out" OPERATION Get-Job-Attributes
  DELAY "0.1,0.2"
  $ipp_header
  ATTR integer job-id \$job-id
  STATUS successful-ok
  EXPECT job-impressions-completed WITH-VALUE >0 REPEAT-NO-MATCH REPEAT-LIMIT 600
}
{ NAME "Cancel-Job" OPERATION Cancel-Job
  $ipp_header
  ATTR integer job-id \$job-id
  ATTR name requesting-user-name \$user
  STATUS successful-ok
}
TEST
cat >"$tmp/state.test" <<TEST
{ NAME "Job state" OPERATION Get-Job-Attributes
  $ipp_header
  ATTR integer job-id \$jobid
  STATUS successful-ok
  DISPLAY job-state
  DISPLAY job-impressions-completed
}
TEST
echo "== Cancel-Job"
ipptool -t -T 30 -f "$tmp/long.pdf" "$(app_uri ink1l)" "$tmp/cancel.test" >"$tmp/cancel.txt" 2>&1 ||
  { cat "$tmp/cancel.txt"; fail "the cancel test's requests failed"; }
cancelled=$(date +%s.%N)
jobid=$(awk '/job-id \(integer\) =/ { print $NF; exit }' "$tmp/cancel.txt")
state=processing pages=?
for i in $(seq 1 600); do
  read -r state pages <<<"$(ipptool -c -T 10 -d jobid="$jobid" "$(app_uri ink1l)" "$tmp/state.test" | tail -1 | tr ',' ' ')"
  [[ $state == canceled || $state == completed || $state == aborted ]] && break
  sleep 0.05
done
ended=$(date +%s.%N)
echo "job $jobid: $state after $pages of 100 pages, $(awk -v a="$cancelled" -v b="$ended" 'BEGIN { printf "%.2f", b - a }') s after Cancel-Job"
[[ $state == canceled ]] || { echo "the job ended as $state"; status=1; }
[[ $pages =~ ^[0-9]+$ && $pages -lt 100 ]] || { echo "every page was printed"; status=1; }

# 6. A CUPS client: a queue made with -m everywhere on the private cupsd.
echo "== CUPS with lpadmin -m everywhere"
lpadmin -p everywhere-ink3 -E -v "$(app_uri ink3)" -m everywhere 2>&1 || fail "lpadmin -m everywhere"
# What the client offers: the options of the PPD CUPS made from the
# printer's attributes.
# (cupsd writes it a moment after lpadmin returns)
ppd=$PCUPSD_ROOT/conf/ppd/everywhere-ink3.ppd
for i in $(seq 1 150); do
  [[ -s $ppd ]] && break
  sleep 0.2
done
[[ -s $ppd ]] || fail "cupsd made no PPD for the everywhere queue"
grep -E '^\*(NickName|ColorDevice|DefaultResolution|DefaultPageSize|DefaultColorModel|DefaultcupsPrintQuality|OpenUI)' "$ppd"
before=$(ls "$tmp/out/ink3" | wc -l)
id=$(pcupsd_submit everywhere-ink3 "$testpage") || fail "lp -d everywhere-ink3"
pcupsd_wait_jobs 300 || fail "the CUPS job did not complete"
[[ "$(pcupsd_job_state "$id")" == completed ]] || fail "CUPS job $id: $(pcupsd_job_state "$id")"
for i in $(seq 1 100); do
  [[ $(ls "$tmp/out/ink3" | wc -l) -gt $before ]] && break
  sleep 0.2
done
sleep 1  # the application's job ends after CUPS's
out=$(ls "$tmp/out/ink3"/*.prn | sort | tail -1)
summary=$("$build/preview/quillpreview" -o "$tmp/cups-ink3" "$out" 2>&1 | tail -1)
echo "through CUPS: $summary"
[[ $summary == *"black "*"red "* ]] || { echo "the CUPS job did not print black and red"; status=1; }

# A sanitizer build reports memory errors and undefined behaviour of the
# application on its standard error.
if grep -E "ERROR: AddressSanitizer|runtime error:" "$tmp/app/server.out"; then
  echo "the application reported memory errors or undefined behaviour"
  status=1
fi
exit $status
