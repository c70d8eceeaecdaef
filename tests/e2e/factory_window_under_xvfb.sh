#!/usr/bin/env bash
# The real factory window, orbek-updater --factory, against orbek-stick-sim --sticks 3 over ptys,
# on a private Xvfb display: once every row shows its stick ready, start-all is clicked at its
# place, as a person would, and each row must end with its Pass picture. Then the exit status
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

cat >"$root/person.sh" <<'PERSON'
# Runs in the Xvfb session: the window, looked at and clicked as a person would.
set -uo pipefail
updater=$1 shot=$2
"$updater" --factory &
pid=$!
window=""
for _ in $(seq 300); do
  window=$(xdotool search --name '^Orbek Updater$' 2>/dev/null | head -n 1)
  [[ -n $window ]] && break
  sleep 0.1
done
[[ -n $window ]] || { echo "no window" >&2; kill "$pid"; exit 3; }
eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
shoot() { import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"; }
# A row's start button is dark text on a light button once its stick is ready; the rows' start
# buttons stand at the right edge, 38 pixels apart from y = 161 (the form's own layout).
start_button_enabled() {
  local row=$1
  local y=$((Y + 161 + 38 * row))
  local darkest
  darkest=$(import -window root -crop "60x12+$((X + WIDTH - 168))+$((y - 6))" -colorspace gray \
    -format '%[fx:int(100*minima)]' info: 2>/dev/null || echo 100)
  [[ $darkest -lt 40 ]]
}
# The Pass picture is green at the left of the row's picture.
row_passed() {
  local row=$1
  local y=$((Y + 161 + 38 * row))
  local colour
  colour=$(import -window root -crop "1x1+$((X + 52))+$y" +repage \
    -format '%[fx:int(255*p{0,0}.g)] %[fx:int(255*p{0,0}.r)]' info: 2>/dev/null)
  [[ -n $colour ]] && awk -v c="$colour" 'BEGIN { split(c, v, " "); exit !(v[1] > 120 && v[2] < 100) }'
}
ready=0
for _ in $(seq 600); do
  start_button_enabled 0 && start_button_enabled 1 && start_button_enabled 2 && { ready=1; break; }
  sleep 0.1
done
[[ $ready -eq 1 ]] || { echo "the rows never showed their sticks ready" >&2; shoot "$shot"; kill "$pid"; exit 4; }
# Start-all, clicked again (five times at most) while no row has started: a click that a busy
# machine did not deliver must not leave the test waiting for nothing.
started=0
for _ in 1 2 3 4 5; do
  xdotool mousemove "$((X + 60))" "$((Y + 117))" click 1
  for _ in $(seq 50); do
    start_button_enabled 0 || start_button_enabled 1 || start_button_enabled 2 || { started=1; break; }
    sleep 0.1
  done
  [[ $started -eq 1 ]] && break
done
[[ $started -eq 1 ]] || { echo "start-all never took" >&2; shoot "$shot"; kill "$pid"; exit 6; }
passed=0
deadline=$((SECONDS + 400))
while ((SECONDS < deadline)); do
  row_passed 0 && row_passed 1 && row_passed 2 && { passed=1; break; }
  sleep 0.5
done
shoot "$shot"
[[ $passed -eq 1 ]] || { echo "not every row passed" >&2; kill "$pid"; exit 5; }
kill -TERM "$pid"  # told to end, as a session's end tells it: nothing runs, status 0
wait "$pid"
PERSON

status=0
(cd "$root" && timeout 540 xvfb-run -a -s "-screen 0 1280x800x24" \
  bash "$root/person.sh" "$updater" "$root/window.png") || status=$?
stop_stick
if [[ $status -ne 0 ]]; then
  cp "$root/window.png" "$shot" 2>/dev/null && echo "picture of the window: $shot" >&2
  fail "the factory window ended with status $status"
fi
"$summary" "$root/report.json" "$package" || fail "a stick does not hold the package and its NV items"
echo "the factory window updated three sticks at once"
