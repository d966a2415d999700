#!/usr/bin/env bash
# Copies desktop-sim and input-bridge into DIR/desktop/native and builds the copy with the given
# compiler and linker flags (a sanitizer's), leaving the normal build alone.
# Usage: instrumented-build.sh DIR "COMPILER FLAGS" "LINKER FLAGS"
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$1 flags=$2 ldflags=$3
work="$dir/desktop/native"

rm -rf "$dir"
mkdir -p "$work"
for pkg in desktop-sim input-bridge; do
  # node_modules comes along so the copy builds without the network.
  tar -C "$root/desktop/native" --exclude="$pkg/build" --exclude="$pkg/bench/baseline/build" \
    --exclude="$pkg/bench/floor/build" -cf - "$pkg" | tar -C "$work" -xf -
done
(cd "$work/input-bridge" && CFLAGS="$flags" CXXFLAGS="$flags" LDFLAGS="$ldflags" \
  node scripts/build.js >/dev/null)
