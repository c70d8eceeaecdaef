#!/usr/bin/env bash
# The real window, orbek-updater, against the real orbek-stick-sim over ptys, on a private Xvfb
# display, driven as a person would: the window found by its title, UPDATE clicked at its place
# once enabled, Enter on the final message. Then the exit status, the simulator's report (every
# image identical to the package, the NV items back) and the install directory after success.
# A picture of the window is kept in the build folder when it fails.
#   window_under_xvfb.sh SIM UPDATER SUMMARY PACKAGE_DIR BUILD_DIR
set -uo pipefail
sim_program=$1 updater=$2 summary=$3 package=$4 build=$5
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d /tmp/orbek-window-XXXXXX)
shot="$build/window-under-xvfb-failed.png"
export ORBEK_ROOT="$root" ORBEK_TIME_SCALE=20 LC_ALL=C XDG_RUNTIME_DIR="$root/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

source "$here/../../tools/stick_session.sh"
trap 'stop_stick; rm -rf "$root"' EXIT
start_stick "$sim_program" "$root" || exit 1

fail() {
  echo "FAILED: $1" >&2
  exit 1
}

rm -f "$shot"
status=0
(cd "$root" && timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" \
  bash "$here/../../tools/window_session.sh" "$updater" --press --shot "$root/window.png" \
  --timeout 180) || status=$?
stop_stick
if [[ $status -ne 0 ]]; then
  cp "$root/window.png" "$shot" 2>/dev/null && echo "picture of the window: $shot" >&2
  fail "the updater ended with status $status"
fi
[[ -s $root/window.png ]] || fail "no picture of the window at the end of the update"
"$summary" "$root/report.json" "$package" || fail "the stick does not hold the package and its NV items"
install="$root/drive_c/Program Files/Windows Service/Tazlonewversion"
left=$(ls "$install" | sort | tr '\n' ' ')
[[ $left == "NVApp.ini ResetUSB.dll killsvr.bat nandprgcombined.mbn nandprghd.mbn " ]] ||
  fail "the install directory holds: $left"
echo "the window updated the stick"
