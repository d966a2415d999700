#!/usr/bin/env bash
# Builds a third copy of desktop-sim and input-bridge with ThreadSanitizer and runs the test in
# which a worker thread dumps the accessibility tree while the main thread posts input, with the
# runtime preloaded into node. The copy lives in .tsan/ so the normal build is left alone.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="$root/.tsan/desktop/native"

rm -rf "$root/.tsan"
mkdir -p "$work"
for pkg in desktop-sim input-bridge; do
  # node_modules comes along so the copy builds without the network.
  tar -C "$root/desktop/native" --exclude="$pkg/build" --exclude="$pkg/bench/baseline/build" --exclude="$pkg/bench/floor/build" -cf - "$pkg" | tar -C "$work" -xf -
done

flags="-fsanitize=thread -fno-omit-frame-pointer -g -O1"
export CFLAGS="$flags" CXXFLAGS="$flags" LDFLAGS="-fsanitize=thread"
(cd "$work/input-bridge" && node scripts/build.js >/dev/null)
unset CFLAGS CXXFLAGS LDFLAGS

# node and V8 are not instrumented: their own synchronisation is invisible to the runtime, so
# what they hand between threads is suppressed (scripts/tsan.supp); the simulated desktop and the
# addon are instrumented and reported in full. The runtime needs the address space without the
# high randomisation some kernels use, hence setarch -R.
export LD_PRELOAD="$(gcc -print-file-name=libtsan.so)"
export TSAN_OPTIONS="halt_on_error=1:exitcode=88:report_signal_unsafe=0:suppressions=$root/scripts/tsan.supp"
cd "$work/input-bridge"
setarch "$(uname -m)" -R node --test --test-concurrency=1 test/ax-async.test.js
