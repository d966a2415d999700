#!/usr/bin/env bash
# Validates every workflow under .github/workflows against the workflow schema, with the
# validator the addon's development install brings (it runs offline). First it makes sure the
# validator rejects a workflow with a misspelt key, so a validator that accepts anything
# cannot pass this check.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
validator="$root/desktop/native/input-bridge/node_modules/.bin/action-validator"
if [ ! -x "$validator" ]; then
  echo "check-workflows: no validator at ${validator#"$root"/}: run scripts/setup.sh" >&2
  exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
sed 's/^\(    \)runs-on:/\1runs-onn:/' "$root/.github/workflows/linux.yml" >"$scratch/misspelt.yml"
if "$validator" "$scratch/misspelt.yml" >/dev/null 2>&1; then
  echo "check-workflows: the validator accepted a workflow whose job says runs-onn" >&2
  exit 1
fi

status=0
for workflow in "$root"/.github/workflows/*.yml; do
  if "$validator" "$workflow"; then
    echo "check-workflows: ${workflow#"$root"/} is valid"
  else
    echo "check-workflows: ${workflow#"$root"/} is NOT valid" >&2
    status=1
  fi
done
exit $status
