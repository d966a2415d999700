#!/usr/bin/env bash
# Builds a third copy of desktop-sim and input-bridge with ThreadSanitizer and runs the tests
# whose threads meet in the addon, with the runtime preloaded into node: a worker thread dumping
# the accessibility tree while the main thread posts input, the host's own window dumped from
# both threads, system-wide requests left to threads of their own by callers that stop
# waiting, workers posting keys from the layout the main thread resolved, four workers
# changing the suppression mask at once, and the tap thread's live check of the grant, its
# removal and reinstallation of the tap and its reports. The copy lives in .tsan/ so the
# normal build is left alone.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="$root/.tsan/desktop/native"

bash "$root/scripts/instrumented-build.sh" "$root/.tsan" \
  "-fsanitize=thread -fno-omit-frame-pointer -g -O1" "-fsanitize=thread" --without-native-suites

# node and V8 are not instrumented: their own synchronisation is invisible to the runtime, so
# what they hand between threads is suppressed (scripts/tsan.supp); the simulated desktop and the
# addon are instrumented and reported in full. The runtime needs the address space without the
# high randomisation some kernels use, hence setarch -R.
export LD_PRELOAD="$(gcc -print-file-name=libtsan.so)"
export TSAN_OPTIONS="halt_on_error=1:exitcode=88:report_signal_unsafe=0:suppressions=$root/scripts/tsan.supp"
cd "$work/input-bridge"
setarch "$(uname -m)" -R node --test --test-concurrency=1 test/ax-async.test.js \
  test/ax-host.test.js test/ax-responding.test.js test/layouts.test.js \
  test/suppress-workers.test.js test/permissions.test.js test/modifier-gap.test.js
