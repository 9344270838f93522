#!/usr/bin/env bash
# ./test alone must be enough on a fresh machine: it installs whatever ./run
# installs, and every system file that the tests and the build copy or load
# by path comes from a package that the installing script names. (A test that
# read Qt's Chinese translations passed only on machines where ./run had
# installed them before.)
set -uo pipefail
root=$1
source "$root/scripts/deps.sh"

fail=0
contains() { # list-name package
  local -n list=$1
  local p
  for p in "${list[@]}"; do [ "$p" = "$2" ] && return 0; done
  return 1
}

for p in "${KTV_RUN_NEEDS[@]}"; do
  contains KTV_TEST_NEEDS "$p" || { echo "./run installs $p but ./test does not"; fail=1; }
done
for p in "${KTV_TEST_NEEDS[@]}"; do
  contains KTV_SHIP_NEEDS "$p" || { echo "./test installs $p but scripts/windows-package.sh does not"; fail=1; }
done

# Files read by absolute path: the owning package must be in the list of the
# script that runs them.
check_files() { # list-name file...
  local list=$1 f path pkg
  shift
  for f in "$@"; do
    while read -r path; do
      if [ ! -e "$path" ]; then
        echo "$f reads $path, which is not installed"
        fail=1
        continue
      fi
      pkg=$(dpkg-query -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
      if [ -z "$pkg" ]; then
        echo "$f reads $path, which no package owns"
        fail=1
      elif ! contains "$list" "$pkg"; then
        echo "$f reads $path from $pkg, which ${list} does not name"
        fail=1
      fi
    done < <(grep -ohE '/usr/share/[A-Za-z0-9_./+-]+\.(qm|ttf|ttc|otf)' "$f" | sort -u)
  done
}

mapfile -t test_files < <(cd "$root" && find tests cmake -type f \( -name CMakeLists.txt -o -name '*.cmake' -o -name '*.sh' \) \
  -not -name DepsTest.sh | sed "s|^|$root/|"; echo "$root/scripts/windows-wine.sh")
check_files KTV_TEST_NEEDS "${test_files[@]}"
check_files KTV_SHIP_NEEDS "$root/scripts/windows-package.sh"

[ $fail = 0 ] && echo "PASS: ./test installs what ./run does, and every file the tests read by path"
exit $fail
