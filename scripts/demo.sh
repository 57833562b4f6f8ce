#!/usr/bin/env bash
# The suite's main job, runnable on a fresh Debian machine: installs the
# dependencies, builds, and runs a small host program that creates a
# document processor from an option string and prints the bytes of an
# empty job in hex.
#
#   scripts/demo.sh [options [class]]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target emptyjob >/dev/null
build/examples/emptyjob "$@"
