#!/usr/bin/env bash
# Makes the two pictures the README shows side by side, from the demo's
# output (run scripts/demo.sh first):
#   docs/testpage.png     the CUPS test page as rendered (pdftoppm)
#   docs/ink3-preview.png what the black-and-red inkjet prints of it:
#                         quillpreview's page out/ink3-1.png, shrunk
# Both are WIDTH pixels wide (default 400), so each stays far below 200 KB.
# Needs poppler-utils and netpbm (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
width=${WIDTH:-400}
testpage=/usr/share/cups/data/default-testpage.pdf
[[ -f out/ink3-1.png ]] || { echo "make-pictures: no out/ink3-1.png (run scripts/demo.sh)" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The page at a resolution that makes it about as wide as wanted, then exactly that.
pdftoppm -singlefile -png -scale-to-x "$width" -scale-to-y -1 "$testpage" "$tmp/testpage"
pngtopam "$tmp/testpage.png" | pamscale -width "$width" | pnmtopng -compression 9 >docs/testpage.png
# One pixel per printer dot at 360 dpi: shrinking averages the dots into
# the tone they make on paper.
pngtopam out/ink3-1.png | pamscale -width "$width" | pnmtopng -compression 9 >docs/ink3-preview.png
ls -l docs/testpage.png docs/ink3-preview.png
