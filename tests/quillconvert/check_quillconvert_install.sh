#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and runs the installed
# quillconvert from there: it must find the installed libquillcore through
# its run path, with no help from LD_LIBRARY_PATH.
#   check_quillconvert_install.sh <build dir> <scratch prefix>
set -euo pipefail
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
bin="$prefix/bin/quillconvert"
[[ -x "$bin" ]] || { echo "missing: bin/quillconvert"; exit 1; }
readelf -d "$bin" | grep -q 'R.*PATH.*\$ORIGIN/\.\./lib' || { echo "no \$ORIGIN/../lib run path"; exit 1; }
resolved=$(env -u LD_LIBRARY_PATH ldd "$bin" | awk '/libquillcore/ {print $3}')
[[ -n "$resolved" && "$(realpath "$resolved")" == "$(realpath "$prefix")/lib/"* ]] || { echo "libquillcore resolves to: $resolved"; exit 1; }
out=$(printf 'ab\f' | env -u LD_LIBRARY_PATH "$bin" 2>/dev/null | od -An -tx1 | tr -d ' \n')
[[ "$out" == "61620c" ]] || { echo "stream output: $out"; exit 1; }
env -u LD_LIBRARY_PATH "$bin" --help | grep -q '^Usage: quillconvert' || { echo "--help failed"; exit 1; }
