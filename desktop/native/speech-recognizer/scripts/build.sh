#!/usr/bin/env bash
# Configures (Release, warnings as errors) and builds into build/, the program and its test
# suites; a second run builds only what changed. Extra arguments go to the configure step and
# win over the defaults, for instance
#   scripts/build.sh -DPALVORIN_BUILD_TESTS=OFF   # the program alone
# or on a Mac:
#   scripts/build.sh -DPALVORIN_UNIVERSAL=ON -DPALVORIN_CODESIGN_IDENTITY="Developer ID Application: ..."
# Written for the tools of a stock Mac as well as Linux (bash 3.2, BSD userland).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DPALVORIN_WARNINGS_AS_ERRORS=ON \
  -DPALVORIN_BUILD_TESTS=ON ${1+"$@"} >/dev/null
cmake --build "$root/build" --parallel "$jobs"
