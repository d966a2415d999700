#!/usr/bin/env bash
# Builds a second copy of desktop-sim and input-bridge with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs both suites with the runtimes preloaded into node; then
# builds the speech program the same way (its CMake option, which adds float-to-integer overflow
# checks) and runs its suite. Everything lives in .sanitize/ so the normal builds are left alone.
# The two halves are independent and may run at the same time:
#   sanitize.sh          both
#   sanitize.sh js       desktop-sim and input-bridge
#   sanitize.sh speech   the speech program
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="$root/.sanitize/desktop/native"
part=${1:-all}
case "$part" in all | js | speech) ;; *) echo "usage: sanitize.sh [js|speech]" >&2; exit 2 ;; esac

if [ "$part" != speech ]; then
  # -O1, as the sanitizers' own documentation advises: it compiles in half the time of the
  # release build's -O3 and keeps the reports' stacks whole.
  bash "$root/scripts/instrumented-build.sh" "$root/.sanitize" \
    "-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1" \
    "-fsanitize=address,undefined"

  # node itself is not instrumented and keeps memory at exit on purpose: no leak reports.
  (
    export LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
    export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:exitcode=86"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=87"
    (cd "$work/desktop-sim" && npm test)
    (cd "$work/input-bridge" && npm test)
  )
fi
[ "$part" != js ] || exit 0

# The speech program's executables carry their own runtimes: nothing is preloaded. Warnings are
# not errors here: GCC's optimiser reports false uninitialised reads inside std::regex when the
# sanitizers instrument it.
speech="$root/desktop/native/speech-recognizer"
if [ -f "$speech/CMakeLists.txt" ]; then
  # -O1 here too: PocketSphinx, where the suite spends its time, is the system's own library and
  # is not rebuilt, so only the compile gets shorter.
  cmake -S "$speech" -B "$root/.sanitize/speech-recognizer" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" -DPALVORIN_SANITIZE=address,undefined >/dev/null
  cmake --build "$root/.sanitize/speech-recognizer" --parallel "$(nproc)" >/dev/null
  (cd "$root/.sanitize/speech-recognizer" && ASAN_OPTIONS=abort_on_error=0 \
    ctest --output-on-failure --parallel "$(nproc)")
fi
