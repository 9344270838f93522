#!/usr/bin/env bash
# Builds the libraries the Windows core needs (GoogleTest, NLopt) with
# MinGW-w64 from Debian's own sources, once, into a cache folder outside the
# tree keyed by their versions, and prints that folder. A later run finds
# the folder complete and builds nothing. Sourced functions come from
# scripts/deps.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
jobs=$(nproc)

version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null; }

source "$root/scripts/deb-src.sh"

gtest_version=$(version googletest)
nlopt_version=$(apt-cache policy libnlopt-dev 2>/dev/null | sed -n 's/^ *Candidate: //p')
[ -n "$gtest_version" ] || { echo "googletest is not installed" >&2; exit 1; }
[ -n "$nlopt_version" ] || nlopt_version=unknown
# Raised whenever the way they are built below changes.
recipe=2
key="r${recipe}_gtest-${gtest_version}_nlopt-${nlopt_version}"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/ktvtune/mingw-${key//[^A-Za-z0-9._+-]/_}"

if [ -f "$cache/.complete" ]; then
  echo "$cache"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$cache"
mkdir -p "$cache"

# GoogleTest: Debian ships its sources.
nice cmake -S /usr/src/googletest -B "$work/gtest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$cache" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF >&2
nice cmake --build "$work/gtest" -j"$jobs" >&2
cmake --install "$work/gtest" >&2

# NLopt from Debian's source package, without its language bindings.
ktv_ensure_deb_src nlopt >&2
(cd "$work" && apt-get source -qq nlopt >&2)
src=$(find "$work" -maxdepth 1 -type d -name 'nlopt-*' | head -n 1)
nice cmake -S "$src" -B "$work/nlopt" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$cache" -DBUILD_SHARED_LIBS=OFF \
  -DNLOPT_PYTHON=OFF -DNLOPT_OCTAVE=OFF -DNLOPT_MATLAB=OFF -DNLOPT_GUILE=OFF -DNLOPT_SWIG=OFF \
  -DNLOPT_FORTRAN=OFF -DNLOPT_CXX=OFF -DNLOPT_TESTS=OFF >&2
nice cmake --build "$work/nlopt" -j"$jobs" >&2
cmake --install "$work/nlopt" >&2

touch "$cache/.complete"
echo "$cache"
