#!/usr/bin/env bash
# Configures (Release, warnings as errors) and builds into build/; safe to run again.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DPALVORIN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$root/build" --parallel "$(nproc)"
