# Wine for the Windows programs and tests: a prefix of the caller's own,
# headless unless the caller keeps DISPLAY, with WenQuanYi Micro Hei among
# its fonts so that the Chinese window shows its texts (Windows itself
# brings Microsoft YaHei). Wine names the Unix files in the Unix locale's
# encoding: UTF-8, or a Windows name outside ASCII cannot be created.
# Sourced; ktv_wine_prefix FOLDER.
ktv_wine_prefix() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
  [ -f "$WINEPREFIX/system.reg" ] || /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  [ -f "$fonts/wqy-microhei.ttc" ] || cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$fonts/"
}
