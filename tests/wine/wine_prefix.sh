# Sourced by the Wine tests: a fresh Wine prefix made by the recipe of docs/wine.md.
#   make_wine_prefix DIR    sets WINEPREFIX and WINEDEBUG, boots the prefix (bounded), copies
#                           Debian's Wine fonts into it and lets Wine draw its windows' frames
#   end_wine                ends every Wine process of the prefix

make_wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all
  timeout 120 wineboot -i >/dev/null 2>&1
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

end_wine() {
  timeout 30 wineserver -k 2>/dev/null || true
}
