#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and checks the layout and
# the exported symbols of libquillcore.so.
#   check_install.sh <build dir> <scratch prefix>
set -euo pipefail
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
expect() {
  if [[ ! -e "$prefix/$1" ]]; then
    echo "missing: $1"
    fail=1
  fi
}
expect lib/libquillcore.so
expect lib/pkgconfig/quillcore.pc
expect include/quill/libquill.h
expect include/quill/dither.h
for f in quillfilter quilldot; do
  if [[ -e "$build/filter/$f" || -e "$build/dotfilter/$f" ]]; then
    expect "lib/cups/filter/$f"
  fi
done
# Every PPD compiled into the build is installed.
compgen -G "$build/ppd/*.ppd" >/dev/null || { echo "no PPDs in $build/ppd"; fail=1; }
for ppd in "$build"/ppd/*.ppd; do
  [[ -e $ppd ]] && expect "share/ppd/quill/$(basename "$ppd")"
done

# Exported symbols: the C interface and nothing of the internal classes.
syms=$(nm -D --defined-only "$prefix/lib/libquillcore.so" | awk '{print $3}')
for s in DocProc_GetObject DocProc_Release DocProc_Update DocProc_StartDoc DocProc_StartDoc2 \
         DocProc_ProcessPage DocProc_ProcessPage2 DocProc_EndDoc DocProc_HasNotEnd; do
  grep -qx "$s" <<<"$syms" || { echo "not exported: $s"; fail=1; }
done
internal=$(grep -E 'DocumentProcess|PageProcess|StringlizeParamter|HexString|PackedPage|quill_log|spdlog' <<<"$syms" || true)
if [[ -n "$internal" ]]; then
  echo "internal symbols exported:"
  echo "$internal"
  fail=1
fi

# pkg-config finds the installed library.
flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs quillcore)
grep -q -- "-lquillcore" <<<"$flags" || { echo "pkg-config: $flags"; fail=1; }

exit $fail
