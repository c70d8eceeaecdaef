#!/usr/bin/env bash
# The Windows program, orbek-updater.exe, updating the simulated stick under Wine and Xvfb as a
# person would: the stick publishes its ports into the Wine prefix, xdotool finds the window
# "Orbek Updater", waits for UPDATE, presses it and answers the final message (in English with
# the keyboard alone: Tab, Space, Esc; in German with the mouse and Enter). Checked: exit
# status 0, every image on the stick identical to the package and the NV items restored, the
# install directory left without images and without an action log, the dialog's size when the
# stick is found, its English and German texts, and the close question during an update
# (answered No, the update goes on).
#   tests/wine/window_under_wine.sh WINDOWS_BUILD NATIVE_BUILD   (mingw64 and default builds)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
windows=$(cd "${1:?usage: window_under_wine.sh WINDOWS_BUILD NATIVE_BUILD}" && pwd)
native=$(cd "${2:?usage: window_under_wine.sh WINDOWS_BUILD NATIVE_BUILD}" && pwd)

source "$here/wine_prefix.sh"
in_one_xvfb_session 900 "$0" "$@"
work=$(mktemp -d /tmp/orbek-wine-window-XXXXXX)
source "$here/../../tools/stick_session.sh"
trap 'stop_stick; end_wine; rm -rf "$work"' EXIT
make_wine_prefix "$work/prefix"
export ORBEK_TIME_SCALE=${ORBEK_TIME_SCALE:-5}
install="$WINEPREFIX/drive_c/Program Files/Windows Service/Tazlonewversion"
found_shot="$windows/orbek-updater-under-wine.png"
# Wine draws the frame itself: a 3-pixel border and a 19-pixel caption around the form.
frame_left=3
frame_top=22
form_width=807
form_height=471

source "$here/../support/checks.sh"

printf '#!/bin/sh\nexec wine "%s"\n' "$windows/ui/win32/orbek-updater.exe" >"$work/updater"
chmod +x "$work/updater"
# The session's hook: what the windows show at each event, read by orbek-window-texts.exe.
cat >"$work/hook" <<HOOK
#!/bin/sh
timeout 60 wine "$windows/tools/orbek-window-texts.exe" >"$work/texts.\$ORBEK_RUN.\$1" 2>&1
HOOK
chmod +x "$work/hook"

# update_run NAME [SESSION OPTION...]: a whole update under the current locale.
update_run() {
  local name=$1 status=0
  shift
  export ORBEK_RUN=$name
  rm -f "$WINEPREFIX/report.json"
  start_stick "$native/sim/orbek-stick-sim" "$WINEPREFIX" \
    --wine-helper "$windows/sim/orbek-wine-registry.exe" || return 1
  mkdir -p "$work/$name"
  (cd "$work/$name" && bash "$here/../../tools/window_session.sh" "$work/updater" --press \
    --frame "$frame_left,$frame_top" --hook "$work/hook" --timeout 300 "$@") \
    >"$work/$name.out" 2>&1 || status=$?
  stop_stick
  cat "$work/$name.out"
  check "$name: the updater ends with status 0" test "$status" -eq 0
  check "$name: every image identical, the NV items restored" \
    "$native/tools/orbek-demo-summary" "$WINEPREFIX/report.json" "$windows/package_files"
  local left=""
  for image in amss.mbn armprg.bin partition.mbn qcsblhd_cfgdata.mbn qcsbl.mbn oemsblhd.mbn \
    oemsbl.mbn amsshd.mbn efs.mbn; do
    [[ -e $install/$image ]] && left+=" $image"
  done
  check "$name: the nine images deleted from the install directory${left:+ (left:$left)}" \
    test -z "$left"
  check "$name: the flash programmer's files stay" test -e "$install/nandprgcombined.mbn"
  check "$name: no action log after a successful update" test ! -e "$work/$name/Logs"
}

echo "== English, a whole update with the keyboard alone"
LC_ALL=C update_run english --keys --found-shot "$found_shot"
check "english: UPDATE pressed with Tab and Space" has "$work/english.out" \
  "UPDATE pressed with Tab and Space."
check "english: the final box answered with Esc" has "$work/english.out" \
  "The final message answered with Esc."
size=$(identify -format '%w %h' "$found_shot" 2>/dev/null || echo "0 0")
read -r width height <<<"$size"
echo "the window when the stick is found: ${width}x${height} ($found_shot)"
near() { (($1 - $2 <= 3 && $2 - $1 <= 3)); }
check "the form is ${form_width}x${form_height} (within 3 pixels)" \
  near $((width - 2 * frame_left)) "$form_width"
check "and its height too" near $((height - frame_top - frame_left)) "$form_height"
# The warnings (1171 at 11,140 in the form, 750x21 pixels) are drawn in RGB(255, 40, 0); the
# instructions (1176 at 11,18) in the default colour.
red_pixels() {
  convert "$found_shot" -crop "$1" +repage txt:- 2>/dev/null |
    awk -F'[(),]' 'NR > 1 && $3 + 0 > 200 && $4 + 0 < 110 && $5 + 0 < 90 { red++ }
                   END { print red + 0 }'
}
check "the warnings are red" test "$(red_pixels "750x21+$((11 + frame_left))+$((140 + frame_top))")" -gt 50
check "the instructions are not" test "$(red_pixels "750x21+$((11 + frame_left))+$((18 + frame_top))")" -eq 0
texts="$work/texts.english.found"
check "the title is Orbek Updater" has "$texts" "window Orbek Updater"
check "the instructions are English" has "$texts" \
  "control 1176 1 This update tool is compatible with Windows XP (SP2/SP3), Windows Vista"
check "the progress label has no colon" has "$texts" "control 1186 1 Progress"
check "the port is shown" has "$texts" "control 1166 1 COM"
check "the stick is ready" has "$texts" "control 1168 1 Ready to start update."
check "UPDATE is enabled" has "$texts" "control 1008 1 UPDATE"
check "the release is shown" has "$texts" "control 1187 1 BD_R415C1F3V1.0.1B08 (Firmware)"
check "the success message" has "$work/texts.english.final" "The update was successful."
# Every control where the dialog manager places it, to the pixel, as the table both faces share.
while read -r id x y width height; do
  [[ -z $id || $id == \#* ]] && continue
  check "control $id at $x,$y, ${width}x$height" has "$texts" "rect $id $x $y $width $height"
done <"$here/../support/form_pixels.txt"

echo "== German, a whole update with the close question answered No"
LC_ALL=de_DE.UTF-8 update_run german --close-at 20
texts="$work/texts.german.found"
check "the instructions are German" has "$texts" \
  "control 1177 1 Bitte führen Sie folgende Schritte zum aktualisieren des Orbek durch:"
check "the German progress label has its colon" has "$texts" "control 1186 1 Fortschritt:"
check "the title stays Orbek Updater" has "$texts" "window Orbek Updater"
question="$work/texts.german.question"
check "the close question has the German caption" has "$question" "window Waring"
check "and the German text" has "$question" "Still Running, You really want to exit?"
check "the update went on after No" has "$work/german.out" "The close question answered No."

echo "== No stick: the close box closes at once, and the package is removed"
(cd "$work" && LC_ALL=C timeout 120 "$work/updater" >"$work/idle.out" 2>&1) &
updater_pid=$!
window=$(timeout 60 xdotool search --sync --name '^Orbek Updater$' | head -n 1)
sleep 1  # drawn
check "the package is extracted while the window is up" test -e "$install/amss.mbn"
eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^WIDTH=')"
xdotool mousemove --window "$window" $((WIDTH - frame_left - 10)) $((frame_top / 2 + 1)) click 1
status=0
wait "$updater_pid" || status=$?
check "the program ends with status 0, without a question" test "$status" -eq 0
check "ResetUSB.dll is deleted" test ! -e "$install/ResetUSB.dll"
check "the images are deleted" test ! -e "$install/amss.mbn"
check "the rest of the package stays" test -e "$install/NVApp.ini"

if [[ $failures -ne 0 ]]; then
  for file in "$work"/texts.* "$WINEPREFIX"/sim.out; do echo "--- $file"; cat "$file"; done
  exit 1
fi
echo "The window under Wine: all checks passed"
