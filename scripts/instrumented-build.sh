#!/usr/bin/env bash
# Copies desktop-sim and input-bridge into DIR/desktop/native and builds the copy with the given
# compiler and linker flags (a sanitizer's), leaving the normal build alone. With
# --without-native-suites the copy leaves out desktop-sim's GoogleTest suites, for a copy that
# runs only the node suites. Only DIR/desktop is replaced: the speech program's instrumented
# build beside it (DIR/speech-recognizer) may be under way at the same time.
# Usage: instrumented-build.sh DIR "COMPILER FLAGS" "LINKER FLAGS" [--without-native-suites]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$1 flags=$2 ldflags=$3
work="$dir/desktop/native"
excluded=()
[ "${4:-}" = --without-native-suites ] && excluded+=(--exclude="desktop-sim/test/native")

rm -rf "$dir/desktop"
mkdir -p "$work"
for pkg in desktop-sim input-bridge; do
  # node_modules comes along so the copy builds without the network. What the addon's pack
  # step and its prebuild test make for a while in the source folder stays behind.
  tar -C "$root/desktop/native" --exclude="$pkg/build" --exclude="$pkg/bench/baseline/build" \
    --exclude="$pkg/bench/floor/build" --exclude="input-bridge/desktop-sim" \
    --exclude="input-bridge/prebuilds" ${excluded[@]+"${excluded[@]}"} -cf - "$pkg" |
    tar -C "$work" -xf -
done
(cd "$work/input-bridge" && CFLAGS="$flags" CXXFLAGS="$flags" LDFLAGS="$ldflags" \
  node scripts/build.js >/dev/null)
