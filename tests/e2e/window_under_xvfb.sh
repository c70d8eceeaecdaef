#!/usr/bin/env bash
# The real window, orbek-updater, against the real orbek-stick-sim over ptys, on a private Xvfb
# display, driven as a person would: the window found by its title, then, with the keyboard alone,
# Tab and Space once UPDATE is enabled and Esc on the final message (the rescue: UPDATE clicked
# at its place, Enter on the final message). Then the exit status, the simulator's report (every
# image identical to the package, the NV items back) and the install directory after success.
# A picture of the window is kept in the build folder when it fails.
# With `rescue CLI`, the stick's NV is first backed up with the terminal program, then the stick
# starts with half a flash, as an interrupted update leaves it: the window must show it in
# download mode (pictured in BUILD_DIR/window-in-download-mode.png) and UPDATE must rescue it.
#   window_under_xvfb.sh SIM UPDATER SUMMARY PACKAGE_DIR BUILD_DIR [rescue CLI]
set -uo pipefail
sim_program=$1 updater=$2 summary=$3 package=$4 build=$5 mode=${6:-update} cli=${7:-}
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d /tmp/orbek-window-XXXXXX)
shot="$build/window-under-xvfb-${6:-update}-failed.png"
export ORBEK_ROOT="$root" ORBEK_TIME_SCALE=20 LC_ALL=C XDG_RUNTIME_DIR="$root/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

source "$here/../../tools/stick_session.sh"
trap 'stop_stick; rm -rf "$root"' EXIT
fail() {
  echo "FAILED: $1" >&2
  exit 1
}

found_shot=()
if [[ $mode == rescue ]]; then
  start_stick "$sim_program" "$root" || exit 1
  # The backup only prepares the rescue: a slower clock gives its reads room on a busy machine.
  (cd "$root" && ORBEK_TIME_SCALE=5 timeout 180 "$cli" --nv-backup "$root/before.nvm" --yes \
    </dev/null >"$root/backup.out" 2>&1) ||
    fail "the NV backup before the rescue: $(tail -n 5 "$root/backup.out")"
  stop_stick
  echo '{"flashIncomplete": true}' >"$root/half-flashed.json"
  start_stick "$sim_program" "$root" --config "$root/half-flashed.json" || exit 1
  found_shot=(--found-shot "$build/window-in-download-mode.png")
  keys=()
else
  start_stick "$sim_program" "$root" || exit 1
  keys=(--keys)
fi

rm -f "$shot"
status=0
(cd "$root" && timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" \
  bash "$here/../../tools/window_session.sh" "$updater" --press "${keys[@]}" \
  --shot "$root/window.png" --timeout 180 "${found_shot[@]}") || status=$?
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
if [[ $mode == rescue ]]; then
  [[ -s $build/window-in-download-mode.png ]] || fail "no picture of the stick in download mode"
  grep -q '"flashIncomplete"\|"unfinishedImages": \[\]' "$root/report.json" ||
    fail "the report says nothing of the stick's flash"
  echo "the window rescued the stick"
else
  echo "the window updated the stick"
fi
