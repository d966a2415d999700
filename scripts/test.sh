#!/usr/bin/env bash
# The whole test suite: set-up, the workflow files' validation, the desktop-sim and addon
# suites (the addon's with its strict type check and its pack-and-install test), the addon
# suites again under AddressSanitizer and UndefinedBehaviorSanitizer, the tests whose threads
# meet in the addon (worker threads, the tap thread) under ThreadSanitizer, and the speech
# program's suite.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native="$root/desktop/native"

bash "$root/scripts/setup.sh"

echo "== workflows"
bash "$root/scripts/check-workflows.sh"

echo "== desktop-sim"
(cd "$native/desktop-sim" && npm test)

echo "== input-bridge"
(cd "$native/input-bridge" && npm test)

echo "== input-bridge under AddressSanitizer and UndefinedBehaviorSanitizer"
bash "$root/scripts/sanitize.sh"

echo "== input-bridge worker and tap threads under ThreadSanitizer"
bash "$root/scripts/tsan.sh"

if [ -x "$native/speech-recognizer/scripts/test.sh" ]; then
  echo "== palvorin-speech-recognizer"
  bash "$native/speech-recognizer/scripts/test.sh"
fi
