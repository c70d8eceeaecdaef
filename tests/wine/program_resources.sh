#!/usr/bin/env bash
# The Windows program's resources and imports, read back from the built orbek-updater.exe (no
# Windows or Wine needed): form template 101 with every visible control's id, class, style and
# place, the factory template 102 likewise, the font, icon 128, bitmaps 149-152, the version block, the manifest for the build's
# processor, and nothing imported beyond Windows' own libraries (the runtime is linked in).
#   tests/wine/program_resources.sh BUILD_DIR ARCHITECTURE     (mingw: x86, mingw64: amd64)
set -euo pipefail
build=$(cd "${1:?usage: program_resources.sh BUILD_DIR x86|amd64}" && pwd)
architecture=${2:?usage: program_resources.sh BUILD_DIR x86|amd64}
program="$build/ui/win32/orbek-updater.exe"
case $architecture in
  x86) tools=i686-w64-mingw32 format=pei-i386 ;;
  amd64) tools=x86_64-w64-mingw32 format=pei-x86-64 ;;
  *) echo "unknown architecture $architecture" >&2; exit 2 ;;
esac
work=$(mktemp -d /tmp/orbek-resources-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$tools-windres" -i "$program" -J coff -O rc -o "$work/program.rc"
"$tools-objdump" -p "$program" >"$work/headers"

source "$(dirname "$0")/../support/checks.sh"

# Static: WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFTNOWORDWRAP (centred: SS_CENTER); progress
# bar: PBS_SMOOTH | WS_BORDER; UPDATE: BS_FLAT | WS_TABSTOP.
cat >"$work/expected" <<'FORM'
101 DIALOGEX 0, 0, 461, 269
STYLE 0x40000440
FONT 9, "Tahoma", 400, 0, 0
BEGIN
  CONTROL "", 1176, "STATIC", 0x5002000c, 6, 10, 417, 12
  CONTROL "", 1177, "STATIC", 0x5002000c, 6, 24, 438, 12
  CONTROL "", 1178, "STATIC", 0x5002000c, 6, 38, 431, 12
  CONTROL "", 1179, "STATIC", 0x5002000c, 6, 52, 454, 12
  CONTROL "", 1182, "STATIC", 0x5002000c, 6, 66, 438, 12
  CONTROL "", 1171, "STATIC", 0x5002000c, 6, 80, 429, 12
  CONTROL "", 1172, "STATIC", 0x5002000c, 6, 94, 454, 12
  CONTROL "", 1173, "STATIC", 0x5002000c, 6, 108, 433, 12
  CONTROL "", 1183, "STATIC", 0x5002000c, 6, 122, 404, 12
  CONTROL "", 1184, "STATIC", 0x5002000c, 6, 141, 80, 8
  CONTROL "Searching...", 1167, "STATIC", 0x5002000c, 94, 141, 133, 8
  CONTROL "NULL", 1192, "STATIC", 0x5002000c, 94, 151, 138, 8
  CONTROL "NULL", 1193, "STATIC", 0x5002000c, 94, 161, 114, 8
  CONTROL "", 1185, "STATIC", 0x5002000c, 6, 174, 62, 10
  CONTROL "BD_R415C1F3V1.0.1B08 (Firmware)", 1187, "STATIC", 0x5002000c, 94, 174, 121, 8
  CONTROL "WIN_1.0.5B06 (Windows)", 1190, "STATIC", 0x5002000c, 94, 185, 111, 8
  CONTROL "MAC_1.0.5B06 (Mac)", 1191, "STATIC", 0x5002000c, 94, 196, 114, 8
  CONTROL "", 1174, "STATIC", 0x5002000c, 6, 210, 78, 8
  CONTROL "Searching...", 1166, "STATIC", 0x5002000c, 94, 210, 258, 10
  CONTROL "Waiting...", 1168, "STATIC", 0x5002000c, 6, 222, 364, 11
  CONTROL "", 1186, "STATIC", 0x5002000c, 6, 235, 33, 8
  CONTROL "", 1101, "STATIC", 0x50020001, 74, 235, 57, 12
  CONTROL "", 1024, "MSCTLS_PROGRESS32", 0x50800001, 5, 251, 449, 14
  CONTROL "UPDATE", 1008, "BUTTON", 0x50018000, 379, 178, 67, 44
END
FORM
sed -n '/^101 DIALOGEX/,/^END/p' "$work/program.rc" >"$work/form"
check "form template 101 as designed" diff -u "$work/expected" "$work/form"
# The factory template 102: the NV settings, start-all and stop-all, then a row per line, from the
# first row to the last. Radio buttons BS_AUTORADIOBUTTON (the first begins the group and is the
# Tab stop); buttons BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP; read-only edits with a border; texts
# SS_NOPREFIX (a socket's "&" shows); pictures SS_BITMAP | SS_CENTERIMAGE; the percentage
# right-aligned; drop-down lists 60 units longer than their closed box.
cat >"$work/expected-factory-head" <<'FORM'
102 DIALOGEX 0, 0, 720, 268
STYLE 0x40000440
FONT 9, "Tahoma", 400, 0, 0
BEGIN
  CONTROL "No bakup NV", 2030, "BUTTON", 0x50030009, 6, 6, 170, 10
  CONTROL "Only restore RF NV", 2031, "BUTTON", 0x50000009, 180, 6, 170, 10
  CONTROL "Restore RF NV and IMEI", 2032, "BUTTON", 0x50000009, 354, 6, 170, 10
  CONTROL L"\x4e0d\x5907\x4efd,\x88c5\x8f7d\x7f3a\x7701NV\x6587\x4ef6", 2033, "BUTTON", 0x50000009, 528, 6, 170, 10
  CONTROL "nv bakup path", 2057, "BUTTON", 0x50030000, 6, 20, 170, 14
  CONTROL "", 2055, "EDIT", 0x50830880, 180, 20, 536, 14
  CONTROL L"\x7f3a\x7701NV\x6587\x4ef6", 2058, "BUTTON", 0x50030000, 6, 38, 170, 14
  CONTROL "", 2056, "EDIT", 0x50830880, 180, 38, 536, 14
  CONTROL "Start all", 2060, "BUTTON", 0x50030000, 6, 56, 50, 14
  CONTROL "Stop all", 1100, "BUTTON", 0x50030000, 60, 56, 50, 14
  CONTROL "", 2061, "STATIC", 0x5002008c, 116, 59, 400, 8
  CONTROL "Line1", -1, "STATIC", 0x5002008c, 6, 79, 24, 8
  CONTROL "", 2010, "STATIC", 0x5002020e, 32, 74, 18, 18
  CONTROL "NULL", 1166, "STATIC", 0x5002008c, 54, 79, 84, 8
  CONTROL "NULL", 1167, "STATIC", 0x5002008c, 142, 79, 114, 8
  CONTROL "", 1024, "MSCTLS_PROGRESS32", 0x50800001, 260, 77, 68, 12
  CONTROL "", 1101, "STATIC", 0x50020082, 330, 79, 22, 8
  CONTROL "", 1168, "STATIC", 0x5002008c, 356, 79, 206, 8
  CONTROL "", 2040, "COMBOBOX", 0x50230003, 566, 76, 50, 74
  CONTROL "Start", 1008, "BUTTON", 0x50030000, 620, 76, 46, 14
  CONTROL "Stop", 1016, "BUTTON", 0x50030000, 670, 76, 46, 14
FORM
cat >"$work/expected-factory-tail" <<'FORM'
  CONTROL "Line8", -1, "STATIC", 0x5002008c, 6, 247, 24, 8
  CONTROL "", 2017, "STATIC", 0x5002020e, 32, 242, 18, 18
  CONTROL "NULL", 1007, "STATIC", 0x5002008c, 54, 247, 84, 8
  CONTROL "NULL", 1079, "STATIC", 0x5002008c, 142, 247, 114, 8
  CONTROL "", 2007, "MSCTLS_PROGRESS32", 0x50800001, 260, 245, 68, 12
  CONTROL "", 1108, "STATIC", 0x50020082, 330, 247, 22, 8
  CONTROL "", 1039, "STATIC", 0x5002008c, 356, 247, 206, 8
  CONTROL "", 2047, "COMBOBOX", 0x50230003, 566, 244, 50, 74
  CONTROL "Start", 1015, "BUTTON", 0x50030000, 620, 244, 46, 14
  CONTROL "Stop", 1023, "BUTTON", 0x50030000, 670, 244, 46, 14
END
FORM
sed -n '/^102 DIALOGEX/,/^END/p' "$work/program.rc" >"$work/factory"
check "factory template 102 begins as designed" \
  diff -u "$work/expected-factory-head" <(head -n "$(wc -l <"$work/expected-factory-head")" "$work/factory")
check "and ends with the eighth row" \
  diff -u "$work/expected-factory-tail" <(tail -n "$(wc -l <"$work/expected-factory-tail")" "$work/factory")
check "eleven settings and eight rows of ten controls" test "$(grep -c ' CONTROL ' "$work/factory")" -eq 91
for line in 2 3 4 5 6 7; do
  check "row $line at $((72 + 24 * (line - 1))) units" \
    has "$work/factory" "  CONTROL \"Line$line\", -1, \"STATIC\", 0x5002008c, 6, $((79 + 24 * (line - 1))), 24, 8"
done
check "icon 128" has "$work/program.rc" "128 14 /* RT_GROUP_ICON */"
for bitmap in 149 150 151 152; do
  check "bitmap $bitmap" has "$work/program.rc" "$bitmap 2 /* RT_BITMAP */"
done
check "the version block names the program" has "$work/program.rc" \
  'VALUE "ProductName", "Orbek Updater"'
check "and the release" has "$work/program.rc" 'VALUE "ProductVersion", "WIN_1.0.5B06"'
check "one manifest" test "$(grep -c '^1 24 /\* RT_MANIFEST \*/' "$work/program.rc")" -eq 1
check "the manifest is forvista.manifest 1.0.0.0 for $architecture" has "$work/program.rc" \
  "assemblyIdentity version=\"\"1.0.0.0\"\" processorArchitecture=\"\"$architecture\"\""
check "named forvista.manifest" has "$work/program.rc" 'name=""forvista.manifest""'
check "it asks for administrator rights" has "$work/program.rc" \
  'requestedExecutionLevel level=""requireAdministrator""'
check "it asks for common controls 6" has "$work/program.rc" \
  'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""'
check "the package is carried" test "$(grep -c ' "SOURCEMBN"$' "$work/program.rc")" -ge 14
check "a $format program" has "$work/headers" "file format $format"
grep 'DLL Name:' "$work/headers" | awk '{print toupper($3)}' | sort >"$work/imports"
check "only Windows' own libraries imported ($(tr '\n' ' ' <"$work/imports"))" \
  test -z "$(grep -vxE 'ADVAPI32.DLL|COMCTL32.DLL|COMDLG32.DLL|GDI32.DLL|KERNEL32.DLL|MSVCRT.DLL|SHELL32.DLL|USER32.DLL|WINMM.DLL' "$work/imports")"

if [[ $failures -ne 0 ]]; then
  exit 1
fi
echo "The program's resources: all checks passed"
