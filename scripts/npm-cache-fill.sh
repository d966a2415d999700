#!/usr/bin/env bash
# The addon's package test installs the packed addon into a fresh application offline: npm's
# cache needs the metadata of the package's own dependencies, which a lockfile install skips.
# Each comes from the cache when it is there already, so this also runs offline.
set -euo pipefail
addon="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/desktop/native/input-bridge"
for dependency in $(cd "$addon" && node -e '
  const lock = require("./package-lock.json");
  for (const name of Object.keys(lock.packages[""].dependencies || {}))
    console.log(name + "@" + lock.packages["node_modules/" + name].version);'); do
  npm cache add --offline "$dependency" >/dev/null 2>&1 || npm cache add "$dependency" >/dev/null
done
