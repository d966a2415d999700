#!/usr/bin/env bash
# The whole test suite: set-up, the workflow files' validation, the desktop-sim and addon
# suites (the addon's with its strict type check and its pack-and-install test), the addon
# suites again under AddressSanitizer and UndefinedBehaviorSanitizer, the tests whose threads
# meet in the addon (worker threads, the tap thread) under ThreadSanitizer, and the speech
# program's suite, plain and under the sanitizers.
#
# After the set-up three lanes run side by side, so that one lane's compiling fills the cores
# while another waits on its processes: the node suites, then the sanitizer copy of the node
# packages; the ThreadSanitizer copy; the speech program's suite, then its sanitizer build. A
# failed stage ends its own lane only; the command fails at the end, naming it with its log.
# The last lines are a table of every stage's time.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native="$root/desktop/native"
source "$root/scripts/stages.sh"
stages_init

in_dir() {
  local dir=$1
  shift
  (cd "$dir" && "$@")
}

lane_node() {
  stage "desktop-sim" in_dir "$native/desktop-sim" npm test || return
  stage "input-bridge" in_dir "$native/input-bridge" npm test || return
  stage "input-bridge and desktop-sim under AddressSanitizer and UndefinedBehaviorSanitizer" \
    bash "$root/scripts/sanitize.sh" js
}

lane_threads() {
  stage "input-bridge worker and tap threads under ThreadSanitizer" bash "$root/scripts/tsan.sh"
}

lane_speech() {
  [ -x "$native/speech-recognizer/scripts/test.sh" ] || return 0
  stage "palvorin-speech-recognizer" bash "$native/speech-recognizer/scripts/test.sh" || return
  stage "palvorin-speech-recognizer under AddressSanitizer and UndefinedBehaviorSanitizer" \
    bash "$root/scripts/sanitize.sh" speech
}

status=0
if stage "set-up" bash "$root/scripts/setup.sh"; then
  stage "workflows" bash "$root/scripts/check-workflows.sh" || status=1
  lane_spawn lane_node
  lane_spawn lane_threads
  lane_spawn lane_speech
  stages_wait || status=1
else
  status=1
fi
stages_report || status=1
exit "$status"
