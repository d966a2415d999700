#!/usr/bin/env bash
# The main job: the event tap, synthetic input and an accessibility snapshot on the simulated
# desktop, then a real transcription.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native="$root/desktop/native"

bash "$root/scripts/setup.sh" --no-tests >/dev/null

echo "== input_bridge: the global event tap on the simulated desktop"
node "$native/input-bridge/demo/tap.js"

echo
echo "== input_bridge: synthetic input as the simulated desktop received it"
node "$native/input-bridge/demo/input.js"

echo
echo "== input_bridge: an accessibility snapshot of a simulated notes editor"
node "$native/input-bridge/demo/ax.js"

if [ -x "$native/speech-recognizer/scripts/demo.sh" ]; then
  echo
  echo "== palvorin-speech-recognizer: transcribing a real recording"
  bash "$native/speech-recognizer/scripts/demo.sh"
fi
