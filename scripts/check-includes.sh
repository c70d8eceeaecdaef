#!/usr/bin/env bash
# The include rules of the floors: dependencies point down only. The workflow and everything
# below it never include the application (app/) or a face (ui/); the line floor never includes
# the workflow. Prints every offending line and exits 1 when there is one.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

status=0
check() {
  local pattern=$1
  shift
  local found
  found=$(grep -rnE --include='*.cpp' --include='*.h' "^#include \"($pattern)" "$@" || true)
  if [[ -n $found ]]; then
    echo "$found"
    status=1
  fi
}

below_application=(update nv package ports host log line diag download at link platform replug)
check 'app/|ui/' "${below_application[@]}"
check 'update/|nv/|package/|ports/|host/|log/' line diag download at link platform replug

if [[ $status -eq 0 ]]; then
  echo "include rules hold"
else
  echo "include rules broken: the lines above reach up a floor" >&2
fi
exit $status
