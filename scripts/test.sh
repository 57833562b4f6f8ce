#!/usr/bin/env bash
# Runs every test of the suite on a fresh machine: installs the dependencies,
# configures and builds in build/ with warnings as errors, then runs ctest
# (unit tests and the end-to-end tests through real CUPS). Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILL_WERROR=ON
cmake --build build -j"$jobs"
cd build
ctest --output-on-failure -j"$jobs" "$@"
