#!/usr/bin/env bash
# Everything a fresh Debian machine needs: system packages, npm packages and all builds.
# Idempotent: packages already installed are not asked for again, so it also runs offline; a
# second run builds only what changed. The addon's build and the speech program's run side by
# side, each on every core.
#   setup.sh             what the test command needs
#   setup.sh --no-tests  what the demo needs: no speech test programs, no npm cache for the
#                        addon's package test
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native="$root/desktop/native"
source "$root/scripts/stages.sh"
with_tests=1
case "${1:-}" in
  "") ;;
  --no-tests) with_tests=0 ;;
  *) echo "usage: setup.sh [--no-tests]" >&2; exit 2 ;;
esac

packages=(g++ make python3 pkg-config)
for list in "$native"/*/apt-packages.txt; do
  [ -f "$list" ] || continue
  while read -r pkg; do
    pkg=${pkg%%#*}
    pkg=$(echo "$pkg" | xargs)
    [ -n "$pkg" ] && packages+=("$pkg")
  done <"$list"
done
command -v node >/dev/null 2>&1 || packages+=(nodejs npm libnode-dev)

missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

stages_init
stage_spawn "set-up: input-bridge and desktop-sim build" \
  bash -c 'cd "$1" && npm install --no-audit --no-fund --loglevel=error' - "$native/input-bridge"
if [ "$with_tests" = 1 ]; then
  # npm's cache for the addon's offline pack-and-install test.
  stage_spawn "set-up: npm cache for the package test" bash "$root/scripts/npm-cache-fill.sh"
fi
if [ -x "$native/speech-recognizer/scripts/build.sh" ]; then
  speech_options=()
  [ "$with_tests" = 1 ] || speech_options=(-DPALVORIN_BUILD_TESTS=OFF)
  stage_spawn "set-up: palvorin-speech-recognizer build" \
    bash "$native/speech-recognizer/scripts/build.sh" ${speech_options[@]+"${speech_options[@]}"}
fi
status=0
stages_wait || status=1
stages_report || status=1
exit "$status"
