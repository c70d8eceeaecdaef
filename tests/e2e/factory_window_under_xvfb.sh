#!/usr/bin/env bash
# The real factory window, orbek-updater --factory, against orbek-stick-sim --sticks 3 over ptys,
# on a private Xvfb display: once every row shows its stick ready, start-all is clicked at its
# place, as a person would (tools/factory_session.sh), and each row must end with its Pass picture. Then the exit status
# when told to end, and the simulator's report: every stick holds the package and its own NV.
# A picture of the window is kept in the build folder when it fails.
#   factory_window_under_xvfb.sh SIM UPDATER SUMMARY PACKAGE_DIR BUILD_DIR
set -uo pipefail
sim_program=$1 updater=$(cd "$(dirname "$2")" && pwd)/$(basename "$2") summary=$3 package=$4 build=$5
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d /tmp/orbek-factory-XXXXXX)
shot="$build/factory-window-under-xvfb-failed.png"
# A clock of 5: on a busy machine the sticks' NV reads still answer in time.
export ORBEK_ROOT="$root" ORBEK_TIME_SCALE=5 LC_ALL=C XDG_RUNTIME_DIR="$root/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

source "$here/../../tools/stick_session.sh"
trap 'stop_stick; rm -rf "$root"' EXIT
fail() {
  echo "FAILED: $1" >&2
  exit 1
}
start_stick "$sim_program" "$root" --sticks 3 || exit 1

status=0
(cd "$root" && timeout 540 xvfb-run -a -s "-screen 0 1280x800x24" \
  bash "$here/../../tools/factory_session.sh" --shot "$root/window.png" "$updater" --factory) \
  >"$root/session.out" 2>&1 || status=$?
cat "$root/session.out"
stop_stick
if [[ $status -ne 0 ]]; then
  cp "$root/window.png" "$shot" 2>/dev/null && echo "picture of the window: $shot" >&2
  fail "the factory window ended with status $status"
fi
for row in 1 2 3; do
  grep -qx "row $row pass" "$root/session.out" || fail "row $row did not pass"
done
"$summary" "$root/report.json" "$package" || fail "a stick does not hold the package and its NV items"
echo "the factory window updated three sticks at once"
