#!/usr/bin/env bash
# Times quillfilter next to the drivers people use for the same printers,
# side by side on the same rasters, and prints CPU seconds and peak memory
# per page with the ratio ours/peer:
#
#   one-ink    quillfilter, quill-ink1.ppd (defaults: gamma 2.2, even-toned
#              screening)     vs  Gutenprint rastertogutenprint, Epson
#              Stylus C88 PPD, StpQuality=Draft ColorModel=Gray (360 dpi)
#   red-black  quillfilter, quill-ink3.ppd with CustomColorMode=2
#                             vs  the same Gutenprint driver, ColorModel=RGB
#   dot24      quillfilter, quill-dot24.ppd (model 1, black and red ribbon)
#                             vs  Ghostscript's necp6 device at -r360, which
#              renders the PDF itself and drives the printer (whole time)
#
# on two pages: the CUPS test page (default-testpage.pdf, fitted to Letter
# by pdftopdf as in a real job) and a dense photo-like page without white
# paper (bench/dense_page.h, written as a PDF by bench/make_dense_page.cpp).
# Every page is rendered ONCE per PPD by the real chain (cupsfilter:
# pdftopdf, gstoraster), so each filter reads exactly the raster it gets in
# a job. Each filter then runs RUNS times (default 5), ours and the peer
# alternately; a figure is the median of the user+sys CPU seconds and of the
# peak RSS that GNU time reports for the filter process alone.
#
#   bench/run-peers.sh [BUILD_DIR]       # default: $QUILL_BUILD, else build/
#   RUNS=3 bench/run-peers.sh /work/other/build
#
# BUILD_DIR needs filter/quillfilter (and its library beside it, as the
# build tree has it); when BUILD_DIR/bench/bench_dither has
# BM_ets_dither_dense, its figure is printed too (or set BENCH_DITHER to
# another bench_dither). Installs the peers and tools it needs (Debian
# packages, as root or through sudo). The red/black choice is a queue
# option, so our filters run as the filter of a queue on a private cupsd
# (a loopback port, stopped at the end), as cupsd starts them: argv[0] is
# the queue name, PPD names the queue's PPD.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build_arg=${1:-${QUILL_BUILD:-$top/build}}
build=$(cd "$build_arg" 2>/dev/null && pwd) ||
  { echo "run-peers: no build folder $build_arg" >&2; exit 1; }
runs=${RUNS:-5}
quillfilter=$build/filter/quillfilter
[[ -x "$quillfilter" ]] || { echo "run-peers: no $quillfilter (build it first)" >&2; exit 1; }
bench_dither=${BENCH_DITHER:-$build/bench/bench_dither}
testpage=/usr/share/cups/data/default-testpage.pdf
started=$(date +%s)

# ---- what the peers and the measurement need -----------------------------
PACKAGES=(printer-driver-gutenprint ghostscript time cups cups-client cups-filters
  g++ zlib1g-dev)
missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  SUDO=()
  if [[ $(id -u) -ne 0 ]]; then SUDO=(sudo); fi
  echo "run-peers: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -qq
  "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

shopt -s nullglob
gp_drivers=(/usr/lib/cups/driver/gutenprint.5.*)
gp_filters=(/usr/lib/cups/filter/rastertogutenprint.5.*)
shopt -u nullglob
[[ ${#gp_drivers[@]} -gt 0 && ${#gp_filters[@]} -gt 0 ]] ||
  { echo "run-peers: Gutenprint's CUPS driver is not installed" >&2; exit 1; }
gp_driver=${gp_drivers[-1]}
gp_filter=${gp_filters[-1]}
gp_scheme=$(basename "$gp_driver")    # gutenprint.5.3

# shellcheck source=../scripts/lib/private-cupsd.sh
source "$top/scripts/lib/private-cupsd.sh"
work=$(mktemp -d /tmp/quill-peers.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
fail() {  # message [log file]
  echo "run-peers: $1" >&2
  [[ $# -gt 1 && -f "$2" ]] && tail -20 "$2" >&2
  exit 1
}

# ---- PPDs -----------------------------------------------------------------
# Our PPDs are compiled from ppd/*.drv into the build; a build made before
# they were (an older tree being measured) takes the checkout's own.
ppd_dir=$build/ppd
[[ -f $ppd_dir/quill-ink1.ppd ]] || ppd_dir=$top/build/ppd
for p in quill-ink1 quill-ink3 quill-dot24; do
  [[ -f $ppd_dir/$p.ppd ]] || fail "no $p.ppd in $build/ppd or $top/build/ppd (build the target quill_ppds)"
  cp "$ppd_dir/$p.ppd" "$work/$p.ppd"
done
# Gutenprint's PPDs are made by its driver program, as lpinfo/lpadmin do.
"$gp_driver" cat "$gp_scheme://escp2-c88/expert" >"$work/c88.ppd" 2>"$work/c88.log" ||
  fail "cannot make the Stylus C88 PPD" "$work/c88.log"

# ---- pages and rasters -----------------------------------------------------
g++ -std=c++17 -O2 -I"$top/bench" "$top/bench/make_dense_page.cpp" -lz \
  -o "$work/make_dense_page" 2>"$work/gen.log" || fail "cannot build make_dense_page" "$work/gen.log"
"$work/make_dense_page" "$work/dense.pdf"
cp "$testpage" "$work/testpage.pdf"

# render PAGE NAME PPD [cupsfilter options]: $work/PAGE-NAME.ras, the raster
# the chain hands the printer's filter (no cupsd needed: CUPS_SERVER points
# at a port nobody serves, so nothing asks a system scheduler).
render() {
  local page=$1 name=$2 ppd=$3
  shift 3
  CUPS_SERVER=127.0.0.1:9 TMPDIR=$work cupsfilter -p "$work/$ppd" \
    -m application/vnd.cups-raster "$@" "$work/$page.pdf" \
    >"$work/$page-$name.ras" 2>"$work/render-$page-$name.log" ||
    fail "rendering $page for $name" "$work/render-$page-$name.log"
}
for page in testpage dense; do
  render "$page" ink1 quill-ink1.ppd
  render "$page" ink3 quill-ink3.ppd
  render "$page" dot24 quill-dot24.ppd
  render "$page" c88-gray c88.ppd -o StpQuality=Draft -o ColorModel=Gray
  render "$page" c88-rgb c88.ppd -o StpQuality=Draft -o ColorModel=RGB
done

# u32 FILE OFFSET: a little-endian 32-bit field of a raster page header.
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
# canvas_mib RASTER: the size of the filter's page canvas, the whole sheet in
# 24-bit colour (PageSize in points times HWResolution), plus 10%.
canvas_mib() {
  local xres yres pw ph
  xres=$(u32 "$1" 280) yres=$(u32 "$1" 284) pw=$(u32 "$1" 356) ph=$(u32 "$1" 360)
  awk -v a="$xres" -v b="$yres" -v w="$pw" -v h="$ph" \
    'BEGIN { printf "%.1f", int(w * a / 72) * int(h * b / 72) * 3 * 1.1 / 1048576 }'
}
# The resolution every filter gets must be 360 x 360 dpi.
for ras in "$work"/*.ras; do
  [[ "$(u32 "$ras" 280)x$(u32 "$ras" 284)" == 360x360 ]] ||
    fail "$(basename "$ras") is not 360 x 360 dpi"
done

# ---- a private cupsd with one queue per quill path --------------------------
pcupsd_start "$work/cups" --port --log-level warn --serverbin /usr/lib/cups \
  --datadir /usr/share/cups || fail "cupsd did not start" "$work/cups/log/stdout"
# (lpadmin warns that PPD-based drivers are deprecated; they still work.)
lpadmin -p quill-ink1 -E -v file:///dev/null -P "$work/quill-ink1.ppd" 2>/dev/null
lpadmin -p quill-ink3 -E -v file:///dev/null -P "$work/quill-ink3.ppd" \
  -o CustomColorMode=2 2>/dev/null
lpadmin -p quill-dot24 -E -v file:///dev/null -P "$work/quill-dot24.ppd" 2>/dev/null

# Our filter under each queue's name: GNU time looks the name up in PATH, so
# argv[0] is the bare queue name, as cupsd passes it. The program still
# finds its library through its real location.
mkdir -p "$work/bin"
for q in quill-ink1 quill-ink3 quill-dot24; do ln -s "$quillfilter" "$work/bin/$q"; done

# ---- the programs under test --------------------------------------------------
# ours_cmd PATH PAGE, peer_cmd PATH PAGE: export what the program needs and
# set CMD to its command line. Called in a subshell, which then execs CMD
# (or GNU time on CMD), so nothing else runs in the measured process.
ours_cmd() {
  local q
  q=$(queue_of "$1")
  export PATH=$work/bin:$PATH PPD=$work/$q.ppd
  CMD=("$q" 1 bench bench 1 "" "$work/$2-${q#quill-}.ras")
}
peer_cmd() {
  case $1 in
    one-ink)
      export PPD=$work/c88.ppd
      CMD=("$gp_filter" 1 bench bench 1 "StpQuality=Draft ColorModel=Gray" "$work/$2-c88-gray.ras") ;;
    red-black)
      export PPD=$work/c88.ppd
      CMD=("$gp_filter" 1 bench bench 1 "StpQuality=Draft ColorModel=RGB" "$work/$2-c88-rgb.ras") ;;
    dot24)
      CMD=(gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=necp6 -r360 -sPAPERSIZE=letter -dFIXEDMEDIA
        -dPDFFitPage -sOutputFile=- "$work/$2.pdf") ;;
  esac
}
# run WHO PATH PAGE OUT ERR: one run of ours or the peer, printer bytes to
# OUT, messages to ERR.
run() {
  (
    "$1_cmd" "$2" "$3"
    exec "${CMD[@]}" >"$4" 2>"$5"
  )
}
queue_of() {
  case $1 in one-ink) echo quill-ink1 ;; red-black) echo quill-ink3 ;; dot24) echo quill-dot24 ;; esac
}
# marks_of PATH: the pieces the filter's option string has on this path
# (its DEBUG line "parsing options: ..."): two inks add dup_red=1, the 24-pin
# printer has dual_color=1; the one-ink path has neither.
marks_of() {
  case $1 in one-ink) echo "" ;; red-black) echo dup_red=1 ;; dot24) echo dual_color=1 ;; esac
}

# One checked run of every program first (which also warms the caches): the
# queue must have made quillfilter take the path (its option string shows
# it), and every program must print something.
paths=(one-ink red-black dot24)
pages=(testpage dense)
for page in "${pages[@]}"; do
  for path in "${paths[@]}"; do
    out=$work/check-$page-$path
    run ours "$path" "$page" "$out.ours" "$out.ours.log" ||
      fail "quillfilter failed on $page ($path)" "$out.ours.log"
    opts=$(grep -m1 '^DEBUG: \[quillfilter\] parsing options: [a-z]' "$out.ours.log" || true)
    [[ -n "$opts" ]] || fail "no option string in quillfilter's messages on $page ($path)" "$out.ours.log"
    marks=$(grep -oE 'dup_red=1|dual_color=1' <<<"$opts" | tr -d '\n' || true)
    [[ "$marks" == "$(marks_of "$path")" ]] ||
      fail "quillfilter did not take the $path path on $page: $opts" "$out.ours.log"
    [[ -s "$out.ours" ]] || fail "quillfilter printed nothing on $page ($path)"
    run peer "$path" "$page" "$out.peer" "$out.peer.log" ||
      fail "the $path peer failed on $page" "$out.peer.log"
    [[ -s "$out.peer" ]] || fail "the $path peer printed nothing on $page"
  done
  # Two inks really differ from one on the same raster.
  cmp -s "$work/check-$page-one-ink.ours" "$work/check-$page-red-black.ours" &&
    fail "the red/black output of $page equals the one-ink output"
  grep -q '^DEBUG: \[quillfilter\] color_mode=2$' "$work/check-$page-red-black.ours.log" ||
    fail "quillfilter did not see CustomColorMode=2 on $page" "$work/check-$page-red-black.ours.log"
done

# ---- timing -----------------------------------------------------------------
# timed WHO PATH PAGE INTO: appends "cpu_seconds max_rss_kib" of one run,
# output and messages thrown away.
timed() {
  (
    "$1_cmd" "$2" "$3"
    exec /usr/bin/time -f '%U %S %M' -o "$work/time.txt" "${CMD[@]}" >/dev/null 2>&1
  ) || fail "timed run of $1 failed on $3 ($2)" "$work/time.txt"
  awk '{ printf "%.3f %d\n", $1 + $2, $3 }' "$work/time.txt" >>"$4"
}
median() {  # FILE COLUMN
  sort -n -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END {
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

peer_name() {
  case $1 in
    one-ink) echo "gutenprint c88 Draft Gray" ;;
    red-black) echo "gutenprint c88 Draft RGB" ;;
    dot24) echo "gs necp6 -r360 (PDF)" ;;
  esac
}

echo "quillfilter: $quillfilter"
echo "peers: $(basename "$gp_filter") (escp2-c88 PPD), $(gs --version | sed 's/^/Ghostscript /')"
echo "checked: quillfilter took each path (its option string; red-black saw the queue's"
echo "  CustomColorMode=2 and added dup_red=1, dot24 dual_color=1), red-black bytes differ from one-ink"
echo "median of $runs runs each; CPU = user+sys seconds per page, RSS = peak MiB;"
echo "goal = page canvas (whole sheet x 3 bytes) + 10%, the RSS target for ours"
echo
printf '%-10s %-9s %8s %8s %7s  %-26s %8s %8s  %7s %7s\n' \
  path page "CPU ours" "RSS ours" goal peer "CPU peer" "RSS peer" "CPU o/p" "RSS o/p"
for page in "${pages[@]}"; do
  for path in "${paths[@]}"; do
    q=$(queue_of "$path")
    ras=$work/$page-${q#quill-}.ras
    ours=$work/t-$page-$path.ours peer=$work/t-$page-$path.peer
    : >"$ours"
    : >"$peer"
    for _ in $(seq "$runs"); do
      timed ours "$path" "$page" "$ours"
      timed peer "$path" "$page" "$peer"
    done
    awk -v name="$path" -v page="$page" -v goal="$(canvas_mib "$ras")" -v peer="$(peer_name "$path")" \
      -v oc="$(median "$ours" 1)" -v om="$(median "$ours" 2)" \
      -v pc="$(median "$peer" 1)" -v pm="$(median "$peer" 2)" 'BEGIN {
        om /= 1024; pm /= 1024
        printf "%-10s %-9s %8.3f %8.1f %7.1f  %-26s %8.3f %8.1f  %7.2f %7.2f\n",
          name, page, oc, om, goal, peer, pc, pm, (pc > 0 ? oc / pc : 0), (pm > 0 ? om / pm : 0)
      }'
  done
done

# ---- the halftoner on the dense page -------------------------------------------
echo
if [[ -x "$bench_dither" ]] &&
  "$bench_dither" --benchmark_list_tests=true 2>/dev/null | grep -qx BM_ets_dither_dense; then
  "$bench_dither" --benchmark_filter='^BM_ets_dither_dense$' --benchmark_repetitions="$runs" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 ~ /_median"?$/ {
      printf "ets_dither, dense page 3060x3960 (bench_dither BM_ets_dither_dense): %.1f ms CPU (median of '"$runs"'), %.1f ms wall\n", $4, $3 }'
else
  echo "ets_dither dense page: $bench_dither has no BM_ets_dither_dense (set BENCH_DITHER)"
fi
echo "run-peers took $(($(date +%s) - started)) s"
