#!/usr/bin/env bash
# The Windows build of orbek-updater-cli under Wine, without a stick: the package comes out of
# the program's resources byte for byte, a second instance is turned away by the named mutex (in
# English, and in German on a German system), and an install directory that cannot be made
# ends the program with its message.
#   tests/wine/updater_under_wine.sh BUILD_DIR     (a mingw64 build)
set -euo pipefail
build=$(cd "${1:?usage: updater_under_wine.sh BUILD_DIR}" && pwd)
cli="$build/ui/orbek-updater-cli.exe"
work=$(mktemp -d /tmp/orbek-wine-XXXXXX)
source "$(dirname "$0")/wine_prefix.sh"
trap 'end_wine; rm -rf "$work"' EXIT
source "$(dirname "$0")/../support/checks.sh"
wait_for() {  # wait_for FILE TEXT SECONDS
  for _ in $(seq $(($3 * 10))); do grep -qF "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

make_wine_prefix "$work/prefix"
install="$WINEPREFIX/drive_c/Program Files/Windows Service/Tazlonewversion"

# The first instance: extracts the package, stops the connection manager, searches.
(cd "$work" && LC_ALL=C timeout 300 wine "$cli" >"$work/first.out" 2>&1 &)
check "the first instance starts and searches" \
  wait_for "$work/first.out" "Searching communication ports..." 120
for file in amss.mbn amsshd.mbn armprg.bin efs.mbn oemsblhd.mbn oemsbl.mbn partition.mbn \
  qcsblhd_cfgdata.mbn qcsbl.mbn nandprghd.mbn nandprgcombined.mbn NVApp.ini killsvr.bat; do
  check "$file extracted as embedded" cmp -s "$install/$file" "$build/package_files/$file"
done
check "ResetUSB.dll extracted as built" cmp -s "$install/ResetUSB.dll" "$build/replug/ResetUSB.dll"

rm "$install/amss.mbn"
status=0
(cd "$work" && LC_ALL=C timeout 120 wine "$cli" --yes >"$work/second.out" 2>&1) || status=$?
check "a second instance ends with status 0" test "$status" -eq 0
check "a second instance says another update runs" grep -qF \
  "Another update is in progress. Please complete this one and try again!" "$work/second.out"
status=0
(cd "$work" && LC_ALL=de_DE.UTF-8 timeout 120 wine "$cli" --yes >"$work/german.out" 2>&1) ||
  status=$?
check "a German second instance ends with status 0" test "$status" -eq 0
check "a German second instance says it in German" grep -qF \
  "Ein anderes Update wird gerade durchgeführt." "$work/german.out"
check "the second instances wrote nothing" test ! -e "$install/amss.mbn"
end_wine

# A fresh machine where the install directory's parent is a file.
rm -rf "$WINEPREFIX/drive_c/Program Files/Windows Service"
printf 'a file' >"$WINEPREFIX/drive_c/Program Files/Windows Service"
status=0
(cd "$work" && LC_ALL=C timeout 120 wine "$cli" --yes >"$work/path.out" 2>&1) || status=$?
check "a directory that cannot be made ends with status 0" test "$status" -eq 0
check "and says so" grep -qF "source file path error!" "$work/path.out"

if [[ $failures -ne 0 ]]; then
  for out in "$work"/*.out; do echo "--- $out"; cat "$out"; done
  exit 1
fi
echo "Windows build under Wine: all checks passed"
