#!/usr/bin/env bash
# KTV Tune for Windows in one command: builds what the window needs for
# Windows (scripts/windows-qt.sh, about half an hour the first time), the
# programs and their tests, runs every Windows test under Wine, and makes
#   build-windows/dist/KTVTune-VERSION-setup.exe   (NSIS, per-user install)
#   build-windows/dist/KTVTune-VERSION-windows.zip (the same files, portable)
# then checks the installer end to end under Wine on a virtual display
# (tests/windows/InstallerE2e.sh). KTV_SKIP_E2E=1 leaves that check out.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ktv_install_missing "${KTV_SHIP_NEEDS[@]}"
jobs=$(nproc)
start=$SECONDS

mingw_deps=$(scripts/windows-deps.sh)
mingw_qt=$(scripts/windows-qt.sh)
echo "Qt for Windows: $mingw_qt ($((SECONDS - start)) s)"
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DKTV_MINGW_DEPS="$mingw_deps" -DKTV_MINGW_QT="$mingw_qt" -DKTV_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-windows -j"$jobs"

# Every Windows test, the window's among them, under Wine.
source scripts/windows-wine.sh
(
  unset DISPLAY
  ktv_wine_prefix "$PWD/build-windows/wineprefix"
  ctest --test-dir build-windows --output-on-failure -j"$jobs" --timeout 300
  /usr/lib/wine/wineserver -k 2>/dev/null || true
)
echo "Windows build and tests: $((SECONDS - start)) s"

version=$(sed -n 's/^project(KtvTune VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dist="$PWD/build-windows/dist"
stage="$dist/KTVTune-$version"
rm -rf "$dist"
mkdir -p "$stage"

# The programs and libraries (without their debugging information), what
# the window loads and nothing more: Qt's libraries, the Windows platform and
# the native style, QCustomPlot, MinGW's runtime that Qt links, Qt's own
# Chinese texts (the program's are built into it), the icon and the licence.
strip_to() { x86_64-w64-mingw32-strip -o "$2/$(basename "$1")" "$1"; }
for program in src/app/ktvtune.exe src/tools/cli/ktvtune-cli.exe src/tools/box/ktvtune-box.exe; do
  if [ -f "build-windows/$program" ]; then
    strip_to "build-windows/$program" "$stage"
  else
    echo "missing: build-windows/$program" >&2
    exit 1
  fi
done
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6PrintSupport; do
  strip_to "$mingw_qt/bin/$dll.dll" "$stage"
done
for dll in "$mingw_qt"/bin/*QCustomPlotQt6*.dll; do
  strip_to "$dll" "$stage"
done
for name in libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll; do
  strip_to "$(x86_64-w64-mingw32-g++-posix -print-file-name=$name)" "$stage"
done
mkdir -p "$stage/plugins/platforms" "$stage/plugins/styles" "$stage/translations"
strip_to "$mingw_qt/plugins/platforms/qwindows.dll" "$stage/plugins/platforms"
strip_to "$mingw_qt/plugins/styles/qwindowsvistastyle.dll" "$stage/plugins/styles"
cp /usr/share/qt6/translations/qtbase_zh_CN.qm "$stage/translations/"
printf '[Paths]\r\nPrefix = .\r\nPlugins = plugins\r\nTranslations = translations\r\n' >"$stage/qt.conf"
cp build-windows/packaging/ktvtune.ico "$stage/"
sed 's/$/\r/' COPYING >"$stage/COPYING.txt"

# The installer's file list, and the uninstaller's: the same files, then
# their folders deepest first.
files="$dist/files.nsh"
unfiles="$dist/unfiles.nsh"
: >"$files"
: >"$unfiles"
(cd "$stage" && find . -type d | sort) | while read -r dir; do
  rel=${dir#./}
  win=${rel//\//\\}
  if [ "$dir" = "." ]; then
    echo "SetOutPath \"\$INSTDIR\"" >>"$files"
  else
    echo "SetOutPath \"\$INSTDIR\\$win\"" >>"$files"
  fi
  (cd "$stage/$dir" && find . -maxdepth 1 -type f | sort) | while read -r f; do
    name=${f#./}
    src="$stage/$rel/$name"
    [ "$dir" = "." ] && src="$stage/$name"
    echo "File \"$src\"" >>"$files"
    if [ "$dir" = "." ]; then
      echo "Delete \"\$INSTDIR\\$name\"" >>"$unfiles"
    else
      echo "Delete \"\$INSTDIR\\$win\\$name\"" >>"$unfiles"
    fi
  done
done
echo "SetOutPath \"\$INSTDIR\"" >>"$files"
(cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r dir; do
  rel=${dir#./}
  echo "RMDir \"\$INSTDIR\\${rel//\//\\}\"" >>"$unfiles"
done

setup="$dist/KTVTune-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DFILES="$files" -DUNFILES="$unfiles" -DOUTFILE="$setup" \
  packaging/windows/installer.nsi
(cd "$dist" && rm -f "KTVTune-$version-windows.zip" && zip -qr -9 "KTVTune-$version-windows.zip" "KTVTune-$version")
ls -l "$setup" "$dist/KTVTune-$version-windows.zip"

if [ "${KTV_SKIP_E2E:-0}" != 1 ]; then
  tests/windows/InstallerE2e.sh "$setup"
fi
echo "Windows package: $((SECONDS - start)) s"
