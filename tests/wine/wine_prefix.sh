# Sourced by the Wine tests: a fresh Wine prefix made by the recipe of docs/wine.md.
#   make_wine_prefix DIR    sets WINEPREFIX and WINEDEBUG, boots the prefix (bounded), copies
#                           Debian's Wine fonts (and a Chinese one, linked to Tahoma) into it
#                           and lets Wine draw its windows' frames
#   end_wine                ends every Wine process of the prefix
#   in_one_xvfb_session SECONDS "$0" "$@"
#                           runs the calling test again inside one Xvfb session, bounded (every
#                           Wine call of a test runs in it); returns when already inside

make_wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all
  timeout 120 wineboot -i >/dev/null 2>&1
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  # Chinese captions: Tahoma links to a font that has them, as on a Chinese Windows.
  if cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/" \
    2>/dev/null; then
    timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v Tahoma /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
  fi
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

end_wine() {
  timeout 30 wineserver -k 2>/dev/null || true
}

in_one_xvfb_session() {
  [[ -z ${ORBEK_WINE_TEST_DISPLAY:-} ]] || return 0
  export ORBEK_WINE_TEST_DISPLAY=1
  exec timeout "$1" xvfb-run -a -s "-screen 0 1400x800x24" bash "${@:2}"
}
