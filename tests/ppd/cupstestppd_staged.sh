#!/usr/bin/env bash
# Every generated PPD, as installed, passes cupstestppd.
#
#   cupstestppd_staged.sh <build dir> <prefix> <ServerBin> <cupstestppd> <ppd>...
#
# Stages a system install (stage_install.sh, which also checks the layout)
# and runs cupstestppd over every installed PPD with the staged folder as
# its root (-R), so that the filters named by *cupsFilter are looked for
# where the install put them. Each PPD must pass, and its warnings must be
# exactly the ones listed below: a new warning fails the test as an error
# would.
#
# cupstestppd, like cupsd, refuses filters that are not owned by root. When
# the test does not run as root (CI runs it as root), the staged filters
# belong to the caller, so the filter check is left out (-I filters);
# stage_install has checked that they are in place all the same.
set -euo pipefail
build=$1
prefix=$2
serverbin=$3
cupstestppd=$4
shift 4
ppds=("$@")

# The size names of these two PPDs are the ones queues set up with the first
# hand-written PPDs carry (PageSize=X72MMY200MM, FanFoldUS), so they stay,
# although cupstestppd would have other names.
declare -A allowed=(
  [quill-dm24.ppd]='WARN Size "FanFoldUS" should be the Adobe standard name "11x14.875Rotated".'
  [quill-rp80.ppd]='WARN Size "X72MMY100MM" should be the Adobe standard name "71.97x99.84mm.Fullbleed".
WARN Size "X72MMY200MM" should be the Adobe standard name "71.97x200.03mm.Fullbleed".
WARN Size "X72MMY297MM" should be the Adobe standard name "71.97x297.04mm.Fullbleed".'
)

here=$(dirname "$0")
# shellcheck source=stage_install.sh
source "$here/stage_install.sh"

stage=$(mktemp -d /tmp/quill-ppd-stage-XXXXXX)
trap 'rm -rf "$stage" "$stage.log"' EXIT
stage_install "$build" "$stage" "$prefix" "$serverbin" "${ppds[@]}"

ignore=()
if [[ $(id -u) -ne 0 ]]; then
  echo "not root: the staged filters are not owned by root, cupstestppd -I filters" >&2
  ignore=(-I filters)
fi

fail=0
for ppd in "${ppds[@]}"; do
  file=$stage$prefix/share/ppd/quill/$ppd
  status=0
  report=$("$cupstestppd" -R "$stage" "${ignore[@]}" -v "$file" 2>&1) || status=$?
  # The result lines of the verbose report: "**FAIL**" and "WARN" findings.
  warnings=$(grep -E '^ +WARN ' <<<"$report" | sed -E 's/^ +WARN +/WARN /' | sort -u || true)
  expected=$(sort -u <<<"${allowed[$ppd]:-}")
  if [[ $status -ne 0 ]] || grep -q 'FAIL' <<<"$report"; then
    echo "$ppd: cupstestppd failed (status $status):" >&2
    echo "$report" >&2
    fail=1
  elif [[ "$warnings" != "$expected" ]]; then
    echo "$ppd: warnings other than the expected ones (< expected, > found):" >&2
    diff <(echo "$expected") <(echo "$warnings") >&2 || true
    fail=1
  else
    echo "$ppd: PASS${warnings:+ (${warnings//$'\n'/; })}"
  fi
done
exit $fail
