#!/usr/bin/env bash
# Everything a fresh Debian machine needs: system packages, npm packages and all builds.
# Idempotent: packages already installed are not asked for again, so it also runs offline.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native="$root/desktop/native"

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

echo "setup: building input-bridge (and desktop-sim)"
(cd "$native/input-bridge" && npm install --no-audit --no-fund --loglevel=error)

# npm's cache for the addon's offline pack-and-install test.
bash "$root/scripts/npm-cache-fill.sh"

if [ -x "$native/speech-recognizer/scripts/build.sh" ]; then
  echo "setup: building palvorin-speech-recognizer"
  bash "$native/speech-recognizer/scripts/build.sh"
fi
