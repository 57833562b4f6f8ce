#!/usr/bin/env bash
# Installs the build tree into a scratch prefix: quillpreview must land in
# bin/ and run from there, and its manual in share/man/man1 must render.
#   check_quillpreview_install.sh <build dir> <scratch prefix>
set -euo pipefail
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
bin="$prefix/bin/quillpreview"
[[ -x "$bin" ]] || { echo "missing: bin/quillpreview"; exit 1; }
"$bin" --help | grep -q '^Usage: quillpreview' || { echo "--help failed"; exit 1; }
page="$prefix/share/man/man1/quillpreview.1"
[[ -f "$page" ]] || { echo "missing: share/man/man1/quillpreview.1"; exit 1; }
if command -v groff >/dev/null; then
  complaints=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
  [[ -z "$complaints" ]] || { echo "groff: $complaints"; exit 1; }
  groff -man -Tutf8 "$page" 2>/dev/null | grep -q 'quillpreview - show what a quill printer stream would print' || { echo "the manual does not render"; exit 1; }
fi
