#!/usr/bin/env bash
# The same ktvtune-cli session run twice: with the Linux programs against
# the Linux ktvtune-box, and with the .exe's under Wine against
# ktvtune-box.exe. The two boxes must have received the same requests, byte
# for byte, and the two sessions must have written the same files and
# printed the same reports, the fit's bands and its report included: the
# fit's math is the program's own (dsp/Math), not the C library's, whose
# last bits differ between the two systems.
#
# CompareWithLinux.sh LINUX_BUILD WINDOWS_BUILD  (WINEPREFIX set by the caller)
set -euo pipefail
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
wine=${KTV_WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all
unset DISPLAY

work=$(mktemp -d)
boxes=()
cleanup() {
  for pid in "${boxes[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Inputs both sessions share: a filter file and a room measurement, written
# as REW writes them.
mkdir -p "$work/inputs"
printf 'Filter Settings file\nRoom EQ V5.20.13\nPreamp: -4.0 dB\n%s\n%s\n%s\n' \
  'Filter  1: ON  PK       Fc   63.2 Hz  Gain  -6.0 dB  Q  4.10' \
  'Filter  2: ON  LSC      Fc    101 Hz  Gain   3.0 dB  Q  0.70' \
  'Filter  3: ON  HSC      Fc   8000 Hz  Gain  -2.5 dB  Q  0.70' >"$work/inputs/room-eq.txt"
awk 'BEGIN {
  print "* Measurement data measured by REW V5.20"; print "* Freq(Hz) SPL(dB) Phase(degrees)";
  for (f = 20; f <= 20000; f *= 2 ^ (1 / 48)) {
    a = log(f / 63) / log(2); b = log(f / 2500) / log(2);
    printf "%.3f %.3f %.1f\n", f, 80 + 7 * exp(-a * a * 18) + 4 * exp(-b * b * 6), 0 }
}' >"$work/inputs/room.txt"

"$linux/src/tools/cli/ktvtune-cli" fit "$work/inputs/room.txt" --channel MUSIC --range 40-16000 \
  -o "$work/inputs/FILE.dap" >/dev/null

# session NAME BOX_COMMAND CLI_COMMAND: runs the box in the background and
# the session's commands in $work/NAME, file names relative to it.
session() {
  local name=$1 box=$2 cli=$3
  local dir="$work/$name"
  mkdir -p "$dir/files"
  cp "$work/inputs/"* "$dir/files/"
  $box >"$dir/box.log" 2>"$dir/box.err" &
  boxes+=($!)
  for _ in $(seq 1 600); do
    grep -q "listening on" "$dir/box.log" 2>/dev/null && break
    sleep 0.05
  done
  grep -q "listening on" "$dir/box.log" || { echo "$name box did not start: $(cat "$dir/box.err")"; exit 1; }
  cd "$dir/files"
  run() { # run NAME ARGS...: stdout to NAME.out, the exit status to status.txt
    local out=$1
    shift
    local status=0
    $cli "$@" >"$out.out" 2>"$out.err" || status=$?
    echo "$out $status" >>status.txt
  }
  run import import room-eq.txt --channel MIC -o imported.dap
  run fit fit room.txt --channel MUSIC --preset imported.dap --range 40-16000 -o fitted.dap
  run write write FILE.dap
  run read read -o read.dap
  run store store 2
  run recall recall 2 -o recalled.dap
  run diff diff imported.dap read.dap
  run export export FILE.dap --channel MUSIC -o exported.txt
  run import-box import exported.txt --channel MIC
  run dump dump FILE.dap
  run dump-box dump --box
  cd - >/dev/null
  kill "${boxes[-1]}"
  wait "${boxes[-1]}" 2>/dev/null || true
  # The exchanges without the time of day.
  grep ' #' "$dir/box.log" | cut -d' ' -f2- >"$dir/exchanges.txt"
}

mkdir -p "$work/linux/run" && chmod 700 "$work/linux/run"
XDG_RUNTIME_DIR="$work/linux/run" XDG_DATA_HOME="$work/linux/data" \
  session linux "$linux/src/tools/box/ktvtune-box" "$linux/src/tools/cli/ktvtune-cli"
# Wine sets LOCALAPPDATA from the prefix's profile, whatever the Unix
# environment says: the box's folder and the journal are the prefix's own
# (the caller's private WINEPREFIX).
session windows "$wine $windows/src/tools/box/ktvtune-box.exe" "$wine $windows/src/tools/cli/ktvtune-cli.exe"

failed=0
same() { # same LABEL A B
  if ! cmp -s "$2" "$3"; then
    echo "differs: $1"
    diff <(od -An -tx1 -v "$2") <(od -An -tx1 -v "$3") | head -n 10 || true
    failed=1
  fi
}
l="$work/linux" w="$work/windows"
requests=$(wc -l <"$l/exchanges.txt")
[ "$requests" -gt 50 ] || { echo "the Linux box logged only $requests exchanges"; failed=1; }
same "the requests and replies the boxes logged" "$l/exchanges.txt" "$w/exchanges.txt"
files=(status.txt imported.dap fitted.dap read.dap recalled.dap exported.txt
  fit.out fit.err diff.out dump.out dump-box.out import.err import-box.err)
for f in "${files[@]}"; do
  same "$f" "$l/files/$f" "$w/files/$f"
done
if [ "$failed" -ne 0 ]; then
  echo "Linux exit statuses:"; cat "$l/files/status.txt"
  echo "Windows exit statuses:"; cat "$w/files/status.txt"
  exit 1
fi
echo "PASS: $requests exchanges and ${#files[@]} files the same on Linux and under Wine"
