#!/usr/bin/env bash
# The Windows program's factory dialog, orbek-updater.exe --factory, under Wine and Xvfb with
# three simulated sticks, each with a device instance prefix of its own, used as a person would:
#  - with the keyboard alone: once the three rows show their stick ready, Tab to start-all and
#    Space; each row ends with its Pass picture, Alt+F4 ends the program with status 0, and each
#    stick holds the package and its own NV items. Checked on the way: every control where the
#    table of the window faces puts it, its caption, and each row's socket.
#  - with the mouse, a fault aimed at the second stick: its row alone ends with the Fail picture,
#    the other two sticks are updated, and the failing stick keeps its own NV items.
# A picture of the dialog after the three sticks passed is kept as
# WINDOWS_BUILD/factory-under-wine.png (the release notes show it).
#   tests/wine/factory_under_wine.sh WINDOWS_BUILD NATIVE_BUILD   (mingw64 and default builds)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
windows=$(cd "${1:?usage: factory_under_wine.sh WINDOWS_BUILD NATIVE_BUILD}" && pwd)
native=$(cd "${2:?usage: factory_under_wine.sh WINDOWS_BUILD NATIVE_BUILD}" && pwd)

source "$here/wine_prefix.sh"
in_one_xvfb_session 1200 "$0" "$@"
work=$(mktemp -d /tmp/orbek-wine-factory-XXXXXX)
source "$here/../../tools/stick_session.sh"
trap 'stop_stick; end_wine; rm -rf "$work"' EXIT
make_wine_prefix "$work/prefix"
export ORBEK_TIME_SCALE=${ORBEK_TIME_SCALE:-5} LC_ALL=C
package="$windows/package_files"
shot="$windows/factory-under-wine.png"

source "$here/../support/checks.sh"

# What the dialog shows, kept in a file; the control with the keyboard's focus printed.
cat >"$work/look" <<LOOK
#!/bin/sh
timeout 60 wine "$windows/tools/orbek-window-texts.exe" 'Orbek Updater' 2>/dev/null | tr -d '\r' \
  >"$work/texts.\${1:-focus}"
sed -n 's/^focus //p' "$work/texts.\${1:-focus}"
LOOK
chmod +x "$work/look"

# factory_run NAME SESSION_OPTIONS... -- SIMULATOR_OPTIONS...
factory_run() {
  local name=$1 status=0 session=()
  shift
  while [[ $1 != -- ]]; do session+=("$1"); shift; done
  shift
  rm -f "$WINEPREFIX/report.json"
  start_stick "$native/sim/orbek-stick-sim" "$WINEPREFIX" --sticks 3 \
    --wine-helper "$windows/sim/orbek-wine-registry.exe" "$@" || return 1
  mkdir -p "$work/$name"
  (cd "$work/$name" && bash "$here/../../tools/factory_session.sh" --frame 3,22 --close \
    --hook "$work/look" "${session[@]}" wine "$windows/ui/win32/orbek-updater.exe" --factory) \
    >"$work/$name.out" 2>&1 || status=$?
  stop_stick
  cat "$work/$name.out"
  check "$name: the program ends with status 0" test "$status" -eq 0
}

echo "== Three sticks, start-all with the keyboard alone"
factory_run keys --keys --focus "$work/look" --shot "$shot" --
for row in 1 2 3; do
  check "keys: row $row ends with its Pass picture" has "$work/keys.out" "row $row pass"
done
check "keys: each stick holds the package and its own NV items" \
  "$native/tools/orbek-demo-summary" "$WINEPREFIX/report.json" "$package"
texts="$work/texts.focus"
check "keys: start-all had the focus when Space was pressed" has "$texts" "focus 2060"
while read -r id x y width height; do
  [[ -z $id || $id == \#* ]] && continue
  [[ $height == - ]] && height=""
  check "control $id at $x,$y, ${width}x${height:-any}" grep -q "^rect $id $x $y $width ${height}" "$texts"
done <"$here/../support/factory_pixels.txt"
check "the Chinese choice" has "$texts" "control 2033 1 不备份,装载缺省NV文件"
check "the Chinese default file button" has "$texts" "control 2058 1 缺省NV文件"
check "nv bakup path" has "$texts" "control 2057 1 nv bakup path"
check "the last row's start is off (no stick)" has "$texts" "control 1015 0 Start"
ended="$work/texts.ended"
for socket in 4d 4e 4f; do
  check "a row shows the socket 7&1a2b3c$socket&0 beside its port" \
    grep -qE "^control (1166|1001|1002) 1 COM[0-9]+  7&1a2b3c$socket&0$" "$ended"
done
check "the tally counts three passed" has "$ended" "control 2061 1 Passed: 3   Failed: 0"

echo "== Three sticks, the second with a fault, start-all clicked"
factory_run fault -- --fault @2:error:0x1B:0x0D:1000000
check "fault: exactly one row fails" test "$(grep -c '^row [123] fail$' "$work/fault.out")" -eq 1
check "fault: the others pass" test "$(grep -c '^row [123] pass$' "$work/fault.out")" -eq 2
for stick in 1 3; do
  check "fault: stick $stick holds the package and its own NV items" \
    "$native/tools/orbek-demo-summary" "$WINEPREFIX/report.json" "$package" --stick "$stick"
done
"$native/tools/orbek-demo-summary" "$WINEPREFIX/report.json" "$package" --stick 2 \
  >"$work/second" || true
check "fault: the second stick keeps its own NV items" \
  grep -qE ': ([0-9]+) of the \1 the stick held' "$work/second"
failed_row=$(sed -n 's/^row \([123]\) fail$/\1/p' "$work/fault.out")
port_ids=(1166 1001 1002)
check "fault: the failing row is the second stick's socket" \
  grep -qE "^control ${port_ids[$((${failed_row:-1} - 1))]} 1 COM[0-9]+  7&1a2b3c4e&0$" "$work/texts.ended"
check "fault: the tally counts two passed, one failed" \
  has "$work/texts.ended" "control 2061 1 Passed: 2   Failed: 1"

if [[ $failures -ne 0 ]]; then
  for file in "$work"/texts.* "$WINEPREFIX"/sim.out; do echo "--- $file"; cat "$file"; done
  exit 1
fi
echo "The factory dialog under Wine: all checks passed"
