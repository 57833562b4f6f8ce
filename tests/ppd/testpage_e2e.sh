#!/usr/bin/env bash
# The CUPS test page through every generated PPD prints what Ghostscript
# renders of it.
#
#   testpage_e2e.sh <build dir> <testpage_compare> <ppd>...
#
# Each PPD (in <build dir>/ppd) prints the test page twice, through the real
# chains: cupsfilter (pdftopdf, gstoraster, our filter), and lp to a queue
# of a private cupsd (scripts/lib/private-cupsd.sh; a Unix socket, file:
# devices; the queues and their options are the demo's,
# scripts/lib/quill-models.sh: ink3's queue prints in black and red). Both
# filters run from the build tree, beside CUPS's own in the server's
# ServerBin; cupsfilter uses that server's cups-files.conf.
#
# Every output is decoded by the preview library and compared, ink per 1 cm
# cell, with the page as Ghostscript renders it at the PPD's resolution
# (testpage_compare.cpp says how, and the tolerance):
#   - quillfilter PPDs: gs renders the page in colour into the PPD's
#     imageable area (fitted, as pdftopdf fits a page to the printable
#     area), placed at the area's corner on the sheet; the tone is the one
#     the filter asks for (gamma 2.2 on the inkjets, none on the 24-pin
#     printer); two inks (ink3 through its queue, dot24 always): black ink
#     against the page's non-red content, red ink against its red content.
#   - quilldot PPDs: the one-bit raster page gstoraster makes for the PPD
#     (the chain up to our filter) is the reference, dot for dot.
# Then two planted faults must fail the comparison: black and red swapped
# on ink3, the page shifted by 2 mm on dm9 (QUILL_TESTPAGE_FAULTS=1 tries
# every fault testpage_compare can plant on every output).
#
# Prints a table: model, route, plane, ink coverage ours and Ghostscript's,
# worst cell difference and the tolerance. Needs root (cupsd runs filters
# unprivileged only when started by root): skipped (77) otherwise.
set -euo pipefail
build=$1
compare=$2
shift 2
ppds=("$@")

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=queue_test_setup.sh
source "$here/queue_test_setup.sh"
queue_test_setup testpage /usr/sbin/cupsfilter gs

pcupsd_start "$tmp/cups" --filter "$build/filter/quillfilter" --filter "$build/dotfilter/quilldot" ||
  fail "cupsd did not start"
cups_files=$tmp/cups/conf/cups-files.conf

# ppd_value PPD KEYWORD [OPTION]: the quoted value of "*KEYWORD OPTION/...: "..."".
ppd_value() {
  sed -n -E "s|^\*$2${3:+ $3}(/[^:]*)?: *\"([^\"]*)\".*|\2|p" "$1" | head -1
}
# ppd_word PPD KEYWORD: the unquoted value of "*KEYWORD: value".
ppd_word() {
  sed -n -E "s|^\*$2: *([^ ]*).*|\1|p" "$1" | head -1
}

# All jobs first: cupsfilter one by one, the queue jobs at once.
for ppd in "${ppds[@]}"; do
  model=$(quill_model "$ppd")
  CUPS_SERVER=127.0.0.1:9 TMPDIR=$tmp cupsfilter -c "$cups_files" -e -p "$build/ppd/$ppd" \
    -m printer/foo "$testpage" >"$tmp/$model-cupsfilter.prn" 2>"$tmp/$model.log" ||
    { cat "$tmp/$model.log" >&2; fail "cupsfilter through $ppd"; }
  mapfile -t options < <(quill_queue_options "$model")
  pcupsd_add_queue "$model" "$build/ppd/$ppd" "$tmp/$model-queue.prn" "${options[@]}" ||
    fail "queue of $ppd"
done
for ppd in "${ppds[@]}"; do
  model=$(quill_model "$ppd")
  pcupsd_submit "$model" "$testpage" >"$tmp/$model.id" || fail "lp -d $model"
done
pcupsd_wait_jobs 300 || fail "jobs did not complete"
for ppd in "${ppds[@]}"; do
  model=$(quill_model "$ppd")
  id=$(cat "$tmp/$model.id")
  [[ "$(pcupsd_job_state "$id")" == completed ]] || fail "job $id on $model: $(pcupsd_job_state "$id")"
done

# compare_args PPD ROUTE: sets ARGS, the comparison of the route's output
# with the page as Ghostscript renders it for the PPD.
compare_args() {
  local ppd=$1 route=$2 model xres yres filter
  model=$(quill_model "$ppd")
  ARGS=(--prn "$tmp/$model-$route.prn")
  filter=$(ppd_value "$build/ppd/$ppd" cupsFilter)
  if [[ "$filter" == *quilldot ]]; then
    [[ -f "$tmp/$model.ras" ]] ||
      CUPS_SERVER=127.0.0.1:9 TMPDIR=$tmp cupsfilter -c "$cups_files" -p "$build/ppd/$ppd" \
        -m application/vnd.cups-raster "$testpage" >"$tmp/$model.ras" 2>/dev/null ||
      fail "gstoraster for $ppd"
    ARGS+=(--ref "$tmp/$model.ras" --tone dots)
    return
  fi
  local size res
  size=$(ppd_word "$build/ppd/$ppd" DefaultPageSize)
  res=$(ppd_word "$build/ppd/$ppd" DefaultResolution)
  res=${res%dpi}
  xres=${res%x*} yres=${res#*x}
  read -r pw ph <<<"$(ppd_value "$build/ppd/$ppd" PaperDimension "$size")"
  read -r x0 y0 x1 y1 <<<"$(ppd_value "$build/ppd/$ppd" ImageableArea "$size")"
  # Points to dots (the sheet's corner at the top left).
  local d
  d=$(awk -v xr="$xres" -v yr="$yres" -v pw="$pw" -v ph="$ph" -v x0="$x0" -v y0="$y0" \
    -v x1="$x1" -v y1="$y1" 'function r(v) { return int(v + 0.5) } BEGIN {
      printf "%d %d %d %d %d %d", r(pw * xr / 72), r(ph * yr / 72), r(x0 * xr / 72),
        r((ph - y1) * yr / 72), r(x1 * xr / 72), r((ph - y0) * yr / 72) }')
  read -r sw sh cx0 cy0 cx1 cy1 <<<"$d"
  local ref=$tmp/$model.ppm
  [[ -f "$ref" ]] ||
    gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=ppmraw -r"${xres}x${yres}" \
      -dDEVICEWIDTHPOINTS="$(awk -v a="$x0" -v b="$x1" 'BEGIN { print b - a }')" \
      -dDEVICEHEIGHTPOINTS="$(awk -v a="$y0" -v b="$y1" 'BEGIN { print b - a }')" \
      -dFIXEDMEDIA -dPDFFitPage -sOutputFile="$ref" "$testpage" || fail "gs for $ppd"
  ARGS+=(--ref "$ref" --tone gamma --sheet "${sw}x${sh}" --ref-at "$cx0,$cy0"
    --clip "$cx0,$cy0,$cx1,$cy1")
  # The 24-pin printer's options have no gamma; it always prints two inks.
  [[ "$(ppd_word "$build/ppd/$ppd" cupsModelNumber)" == 1 ]] && ARGS+=(--gamma 1 --planes "black,red")
  [[ "$model" == ink3 && "$route" == queue ]] && ARGS+=(--planes "black,red")
  return 0
}

status=0
printf '%-6s %-10s %-5s %8s %8s %8s %9s\n' model route ink ours% gs% worst tolerance
for ppd in "${ppds[@]}"; do
  model=$(quill_model "$ppd")
  for route in cupsfilter queue; do
    compare_args "$ppd" "$route"
    result=$("$compare" "${ARGS[@]}" 2>&1) || status=1
    awk -v m="$model" -v r="$route" '/^(black|red) / {
        printf "%-6s %-10s %-5s %8s %8s %8s %9s %s\n", m, r, $1, $3, $5, $8, $12, $13; next }
      { print m " " r ": " $0 }' <<<"$result"
  done
done
[[ $status -eq 0 ]] || fail "an output differs from Ghostscript's page beyond the tolerance"

# The comparison sees faults: the inks swapped, the page shifted by 2 mm.
compare_args quill-ink3.ppd queue
"$compare" "${ARGS[@]}" --plant swap >"$tmp/planted" 2>&1 && fail "black and red swapped on ink3 pass: $(cat "$tmp/planted")"
compare_args quill-dm9.ppd queue
"$compare" "${ARGS[@]}" --plant shift >"$tmp/planted" 2>&1 && fail "a shift of 2 mm on dm9 passes: $(cat "$tmp/planted")"
echo "planted faults fail: ink3 black/red swapped, dm9 shifted by 2 mm"

# QUILL_TESTPAGE_FAULTS=1: every planted fault on every output, the worst
# cell of each (a look at how far above the tolerance they land).
if [[ "${QUILL_TESTPAGE_FAULTS:-0}" == 1 ]]; then
  for ppd in "${ppds[@]}"; do
    for route in cupsfilter queue; do
      compare_args "$ppd" "$route"
      for fault in shift mirror half scale swap; do
        [[ $fault == swap && " ${ARGS[*]} " != *" black,red "* ]] && continue
        res=$("$compare" "${ARGS[@]}" --plant "$fault" 2>&1 || true)
        echo "fault $(quill_model "$ppd") $route $fault $(awk '{ printf "%s %s %s; ", $1, $8, $13 }' <<<"$res")"
      done
    done
  done
fi
