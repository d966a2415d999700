#!/usr/bin/env bash
# Configures (Release, warnings as errors) and builds into build/; safe to run again.
# Extra arguments go to the configure step, for instance on a Mac:
#   scripts/build.sh -DPALVORIN_UNIVERSAL=ON -DPALVORIN_CODESIGN_IDENTITY="Developer ID Application: ..."
# Written for the tools of a stock Mac as well as Linux (bash 3.2, BSD userland).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DPALVORIN_WARNINGS_AS_ERRORS=ON ${1+"$@"} >/dev/null
cmake --build "$root/build" --parallel "$jobs"
