#!/usr/bin/env bash
# Builds what the window needs for Windows with MinGW-w64, from Debian's own
# source packages: Qt's qtbase (Core, Gui, Widgets, PrintSupport, Test; the
# windows and offscreen platform plugins, the windowsvista style) against
# Debian's host tools of the same version, QCustomPlot against it, FFTW and
# PortAudio. Installs them into one cache folder outside the tree keyed by
# their versions and prints that folder. Each library has its own marker, so
# a later run builds only what is missing (Qt alone takes about half an hour
# on two cores). It runs the builds at low priority itself. With --check it
# builds nothing: it prints the folder when complete and fails otherwise.
# Environment: KTV_QT_JOBS (default: all cores).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
jobs=${KTV_QT_JOBS:-$(nproc)}

# Qt's objects are built once per cache; keep them out of the shared ccache.
unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER

candidate() { apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p'; }

source "$root/scripts/deb-src.sh"

qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
[ -n "$qt_version" ] || { echo "qt6-base-dev is not installed (scripts/deps.sh)" >&2; exit 1; }
qcp_version=$(candidate libqcustomplot-dev)
fftw_version=$(candidate libfftw3-dev)
pa_version=$(candidate portaudio19-dev)
# Raised whenever the way Qt is built below changes (the other libraries
# carry their own recipe in their marker's name).
recipe=1
key="r${recipe}_qtbase-${qt_version}"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/ktvtune/mingw-qt-${key//[^A-Za-z0-9._+-]/_}"
mark() { local m="$1_$2"; echo "$cache/.complete-${m//[^A-Za-z0-9._+-]/_}"; }
qt_mark=$(mark qtbase "$qt_version")
qcp_mark=$(mark qcustomplot-r1 "$qcp_version")
fftw_mark=$(mark fftw-r2 "$fftw_version")
pa_mark=$(mark portaudio-r2 "$pa_version")

if [ -f "$qt_mark" ] && [ -f "$qcp_mark" ] && [ -f "$fftw_mark" ] && [ -f "$pa_mark" ]; then
  echo "$cache"
  exit 0
fi
# --check: only say whether the cache is complete.
[ "${1:-}" != "--check" ] || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/ktvtune-qt.XXXXXX")
trap 'rm -rf "$work"' EXIT
ktv_ensure_deb_src qt6-base >&2
mkdir -p "$cache"

# source NAME: unpacks Debian's source package (patches applied) and prints
# its folder.
source_of() {
  (cd "$work" && apt-get source -qq "$1" >/dev/null 2>&1) || (cd "$work" && apt-get source "$1" >&2)
  find "$work" -mindepth 1 -maxdepth 1 -type d -name "$2" | head -n 1
}

# Qt links the C and C++ runtime as DLLs (the way Qt's own MinGW builds are
# made), so the toolchain's -static is left out here.
cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$cache"
       -DCMAKE_EXE_LINKER_FLAGS= -DCMAKE_SHARED_LINKER_FLAGS= -DCMAKE_MODULE_LINKER_FLAGS=)
# KTV_MINGW_QT puts the cache among the toolchain's find roots.
qt_host=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DCMAKE_PREFIX_PATH="$cache"
         -DKTV_MINGW_QT="$cache")

if [ ! -f "$qt_mark" ]; then
  start=$(date +%s)
  src=$(source_of qt6-base 'qt6-base-*')
  # Debian's source leaves out the Wintab headers: no tablet events. OpenGL
  # stays on: the Windows platform plugin of this version needs it. So does
  # Direct2D: without it Gui leaves out the DirectWrite font engine, which
  # PrintSupport still calls, and its DLL does not link. Image formats beyond
  # Qt's built-in PNG are left out.
  nice -n 10 cmake -S "$src" -B "$work/qtbase" "${cross[@]}" "${qt_host[@]}" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_pkg_config=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF >&2
  nice -n 10 cmake --build "$work/qtbase" -j"$jobs" >&2
  cmake --install "$work/qtbase" >&2
  rm -rf "$work/qtbase" "$src"
  echo "qtbase built in $(( $(date +%s) - start )) s" >&2
  touch "$qt_mark"
fi

if [ ! -f "$qcp_mark" ]; then
  src=$(source_of qcustomplot 'qcustomplot-*')
  nice -n 10 cmake -S "$src" -B "$work/qcp" "${cross[@]}" "${qt_host[@]}" -DUSE_QT_VERSION=6 >&2
  nice -n 10 cmake --build "$work/qcp" -j"$jobs" >&2
  cmake --install "$work/qcp" >&2
  touch "$qcp_mark"
fi

if [ ! -f "$fftw_mark" ]; then
  src=$(source_of fftw3 'fftw3-*')
  # FFTW's CMake build knows no aligned allocation on MinGW: its own one.
  nice -n 10 cmake -S "$src" -B "$work/fftw" "${cross[@]}" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF \
    -DENABLE_THREADS=OFF -DENABLE_OPENMP=OFF -DENABLE_SSE2=ON -DCMAKE_C_FLAGS=-DWITH_OUR_MALLOC=1 >&2
  nice -n 10 cmake --build "$work/fftw" -j"$jobs" >&2
  cmake --install "$work/fftw" >&2
  touch "$fftw_mark"
fi

if [ ! -f "$pa_mark" ]; then
  src=$(source_of portaudio19 'portaudio19-*')
  # The Windows sound systems MinGW has headers for (MME, WASAPI); no ASIO.
  # This version installs only its DLL: the static library and the header are
  # copied by hand, and the program links what the library needs itself.
  nice -n 10 cmake -S "$src" -B "$work/pa" "${cross[@]}" -DPA_USE_ASIO=OFF -DPA_USE_WMME=ON -DPA_USE_WASAPI=ON \
    -DPA_USE_DS=OFF -DPA_USE_WDMKS=OFF -DPA_USE_WDMKS_DEVICE_INFO=OFF >&2
  nice -n 10 cmake --build "$work/pa" --target portaudio_static -j"$jobs" >&2
  mkdir -p "$cache/lib" "$cache/include"
  cp "$work/pa/libportaudio_static.a" "$cache/lib/"
  cp "$src/include/portaudio.h" "$cache/include/"
  touch "$pa_mark"
fi

echo "$cache"
