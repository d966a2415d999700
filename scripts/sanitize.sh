#!/usr/bin/env bash
# Builds a second copy of desktop-sim and input-bridge with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs both suites with the runtimes preloaded into node.
# The copy lives in .sanitize/ so the normal build is left alone.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="$root/.sanitize/desktop/native"

rm -rf "$root/.sanitize"
mkdir -p "$work"
for pkg in desktop-sim input-bridge; do
  # node_modules comes along so the copy builds without the network.
  tar -C "$root/desktop/native" --exclude="$pkg/build" --exclude="$pkg/bench/baseline/build" --exclude="$pkg/bench/floor/build" -cf - "$pkg" | tar -C "$work" -xf -
done

flags="-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
export CFLAGS="$flags" CXXFLAGS="$flags" LDFLAGS="-fsanitize=address,undefined"
(cd "$work/input-bridge" && node scripts/build.js >/dev/null)
unset CFLAGS CXXFLAGS LDFLAGS

# node itself is not instrumented and keeps memory at exit on purpose: no leak reports.
export LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:exitcode=86"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=87"
(cd "$work/desktop-sim" && npm test)
(cd "$work/input-bridge" && npm test)
