#!/usr/bin/env bash
# A whole update of the simulated stick in the updater's window: orbek-stick-sim plays the stick
# on a fresh machine root, and orbek-updater shows it. On your display (when there is one) you
# press UPDATE and answer the messages; otherwise the window runs on a private Xvfb display where
# this script presses UPDATE and answers the final message as a person would. It prints the
# progress it sees, keeps a picture of the window at the end of the update, and checks the
# simulator's report against the package.
#   tools/window-demo.sh [BUILD_DIR]    (ORBEK_TIME_SCALE speeds the clock, default 3;
#                                        ORBEK_DEMO_XVFB=1 uses Xvfb even with a display)
set -euo pipefail
build=$(cd "${1:-build/default}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d /tmp/orbek-demo-XXXXXX)
shot="$build/orbek-updater-after-update.png"
export ORBEK_ROOT="$root"
export ORBEK_TIME_SCALE=${ORBEK_TIME_SCALE:-3}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$root/runtime}
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

source "$here/stick_session.sh"
trap 'stop_stick; rm -rf "$root"' EXIT
start_stick "$build/sim/orbek-stick-sim" "$root"

echo "Orbek Updater: a whole update of the simulated stick in the window (clock ${ORBEK_TIME_SCALE}x"
echo "faster; the machine's root is $root; the stick is $(head -n 1 "$root/sim.out" | cut -d' ' -f2-))."
rm -f "$shot"
status=0
cd "$root"
if [[ -n ${DISPLAY:-} && -z ${ORBEK_DEMO_XVFB:-} ]] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "The window opens on your display: press UPDATE when it is enabled, and answer the messages."
  bash "$here/window_session.sh" "$build/ui/qt/orbek-updater" --shot "$shot" || status=$?
else
  echo "No display: the window runs on a private Xvfb display, and this script acts as the person."
  xvfb-run -a -s "-screen 0 1024x768x24" \
    bash "$here/window_session.sh" "$build/ui/qt/orbek-updater" --press --shot "$shot" || status=$?
fi
cd - >/dev/null

stop_stick
echo
echo "The updater ended with exit status $status."
[[ -f $shot ]] && echo "The window at the end of the update: $shot"
echo "The install directory now holds: $(ls "$root/drive_c/Program Files/Windows Service/Tazlonewversion" | tr '\n' ' ')"
echo
"$build/tools/orbek-demo-summary" "$root/report.json" "$build/package_files" || status=1
exit "$status"
