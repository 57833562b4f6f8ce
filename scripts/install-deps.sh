#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need.
# Idempotent: when everything is present it returns at once without touching
# apt. Runs apt-get update at most once per call.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ make cmake pkg-config
  # libraries the suite builds against
  libcups2-dev libcupsimage2-dev liblcms2-dev libfreeimage-dev libfreeimageplus-dev
  zlib1g-dev libfmt-dev libspdlog-dev
  # tests and benchmarks
  googletest libgtest-dev libbenchmark-dev
  # real CUPS chains for the end-to-end tests and the demo
  cups cups-client cups-filters ghostscript cups-ppdc poppler-utils
  # the printer application (PAPPL) and its IPP conformance tests (ipptool)
  libpappl-dev cups-ipp-utils
  # shrinking the pictures of docs/ (docs/make-pictures.sh), references of
  # the printer application's test (ppmtoppm)
  netpbm
  # the sanitizer stage of scripts/test.sh and the fuzz targets: clang with
  # its sanitizer and libFuzzer runtimes
  clang libclang-rt-14-dev
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  SUDO=(sudo)
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
