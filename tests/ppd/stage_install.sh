# Sourced by the tests of this folder: stages a system install of the build
# and checks its layout.
#
#   stage_install <build dir> <stage dir> <prefix> <ServerBin> <ppd>...
#
# runs DESTDIR=<stage dir> cmake --install <build dir> --prefix <prefix>, as
# a distribution package or `sudo cmake --install build --prefix /usr`
# would, and fails (with a message) unless
#   - <stage><prefix>/share/ppd/quill holds exactly the generated PPDs
#     <ppd>..., each byte for byte as compiled into <build dir>/ppd (so the
#     hand-written ppd/*.ppd are not what gets installed);
#   - quillfilter and quilldot are in <stage><ServerBin>/filter, where CUPS
#     runs filters from;
#   - the staged quillfilter resolves libquillcore from <stage><prefix>/lib
#     (its run-time search path works from that folder).

stage_fail() {
  echo "stage_install: $*" >&2
  return 1
}

stage_install() {
  local build=$1 stage=$2 prefix=$3 serverbin=$4
  shift 4
  local ppds=("$@")
  rm -rf "$stage"
  mkdir -p "$stage"
  chmod 755 "$stage"
  DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$stage.log" 2>&1 ||
    { cat "$stage.log" >&2; stage_fail "cmake --install failed"; return 1; }

  local ppd_dir=$stage$prefix/share/ppd/quill
  local installed expected
  installed=$(cd "$ppd_dir" && ls -1 | sort)
  expected=$(printf '%s\n' "${ppds[@]}" | sort)
  if [[ "$installed" != "$expected" ]]; then
    diff <(echo "$expected") <(echo "$installed") >&2 || true
    stage_fail "$ppd_dir holds other files than the generated PPDs (< generated, > installed)"
    return 1
  fi
  local ppd
  for ppd in "${ppds[@]}"; do
    cmp -s "$build/ppd/$ppd" "$ppd_dir/$ppd" || { stage_fail "$ppd differs from $build/ppd/$ppd"; return 1; }
  done

  local filter_dir=$stage$serverbin/filter f
  for f in quillfilter quilldot; do
    [[ -x "$filter_dir/$f" ]] || { stage_fail "$f is not in $filter_dir"; return 1; }
  done
  local resolved lib_dir
  resolved=$(ldd "$filter_dir/quillfilter" | awk '$1 ~ /^libquillcore\.so/ {print $3}')
  resolved=$(realpath -e "$resolved" 2>/dev/null || true)
  lib_dir=$(realpath -e "$stage$prefix/lib")
  if [[ "$(dirname "$resolved")" != "$lib_dir" ]]; then
    ldd "$filter_dir/quillfilter" >&2 || true
    stage_fail "the staged quillfilter does not find libquillcore in $lib_dir"
    return 1
  fi
}
