#!/usr/bin/env bash
# A whole update of the simulated stick, as a person would see it: orbek-stick-sim plays the
# stick on a fresh machine root, orbek-updater-cli finds it, presses UPDATE and answers every
# message, and at the end the simulator's report is checked against the package.
#   tools/demo.sh [BUILD_DIR]       (ORBEK_TIME_SCALE speeds the clock; default 3)
set -euo pipefail
build=${1:-build/default}
root=$(mktemp -d /tmp/orbek-demo-XXXXXX)
export ORBEK_ROOT="$root"
export ORBEK_TIME_SCALE=${ORBEK_TIME_SCALE:-3}

source "$(dirname "$0")/stick_session.sh"
trap 'stop_stick; rm -rf "$root"' EXIT
start_stick "$build/sim/orbek-stick-sim" "$root"

echo "Orbek Updater: a whole update of the simulated stick (clock ${ORBEK_TIME_SCALE}x faster;"
echo "the machine's root is $root; the stick is $(head -n 1 "$root/sim.out" | cut -d' ' -f2-))."
echo
status=0
(cd "$root" && "$OLDPWD/$build/ui/orbek-updater-cli" --start --yes --once) || status=$?

stop_stick
echo
echo "The updater ended with exit status $status."
echo "The install directory now holds: $(ls "$root/drive_c/Program Files/Windows Service/Tazlonewversion" | tr '\n' ' ')"
echo
"$build/tools/orbek-demo-summary" "$root/report.json" "$build/package_files" || status=1
exit "$status"
