#!/bin/bash
# A sweep measurement through the real sound path without a sound card: a
# PulseAudio server of the test's own, in its own runtime folder, with a null
# sink; ktvtune-cli plays the sweep into the sink and records its monitor
# through PortAudio. A wire measures flat.
# Usage: NullSinkMeasure.sh KTVTUNE-CLI
set -u
cli=$1
dir=$(mktemp -d /tmp/ktv-audio.XXXXXX)
server=""
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$server" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$dir/pulse.log" ] && tail -20 "$dir/pulse.log"; exit 1; }

# Wrong settings are refused before any sound plays.
for args in "" "-o $dir/x.txt --length 11" "-o $dir/x.txt --range 20000-20" "-o $dir/x.txt --level 3" \
            "-o $dir/x.txt --average 0" "-o $dir/x.txt --calibration $dir/none.txt"; do
  # shellcheck disable=SC2086
  "$cli" measure $args >/dev/null 2>&1
  [ $? -eq 2 ] || fail "'measure $args' was not refused as wrong usage"
done
[ ! -e "$dir/x.txt" ] || fail "a refused measurement wrote its file"

mkdir -p "$dir/runtime" "$dir/home" "$dir/state"
chmod 700 "$dir/runtime"
export XDG_RUNTIME_DIR=$dir/runtime PULSE_RUNTIME_PATH=$dir/runtime/pulse PULSE_STATE_PATH=$dir/state
export HOME=$dir/home PULSE_SERVER=unix:$dir/runtime/native
# Neither the user's nor the system's configuration: only what the test loads.
printf 'load-module module-native-protocol-unix auth-anonymous=1 socket=%s\n' "$dir/runtime/native" >"$dir/default.pa"
printf 'load-module module-null-sink sink_name=ktvnull rate=48000 channels=1\n' >>"$dir/default.pa"
printf 'set-default-sink ktvnull\nset-default-source ktvnull.monitor\n' >>"$dir/default.pa"
# Root may run a user server only when told it is meant (CI runs as root).
pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit --disable-shm=true --use-pid-file=false \
  --system=false -n -F "$dir/default.pa" --log-target=stderr >"$dir/pulse.log" 2>&1 &
server=$!
for _ in $(seq 300); do
  [ -S "$dir/runtime/native" ] && pactl info >/dev/null 2>&1 && break
  kill -0 "$server" 2>/dev/null || fail "the PulseAudio server did not start"
  sleep 0.1
done
pactl info >/dev/null 2>&1 || fail "the PulseAudio server did not answer"

"$cli" devices 2>"$dir/devices.err" >"$dir/devices.txt"; grep -q pulse "$dir/devices.txt" || { cat "$dir/devices.txt" "$dir/devices.err"; fail "PortAudio does not see the server"; }

# Every point from 40 Hz to 16 kHz within 0.5 dB of 0 dB. The sink is clocked
# in real time: on a loaded machine a stream can miss its deadline and drop a
# block, which no wire does, so a spoilt take is measured again (at most 3).
flat() {
  awk '!/^\*/ && $1 >= 40 && $1 <= 16000 { n++; d = $2 < 0 ? -$2 : $2; if (d > worst) { worst = d; at = $1 } }
       END { printf "points %d, largest deviation %.3f dB at %.1f Hz\n", n, worst, at; exit !(n > 200 && worst <= 0.5) }' "$1"
}
for take in 1 2 3; do
  rm -f "$dir/wire.txt"
  if timeout 60 "$cli" measure -o "$dir/wire.txt" --out pulse --in pulse --length 2 2>"$dir/cli.err" && flat "$dir/wire.txt"; then
    echo PASS
    exit 0
  fi
  echo "take $take spoilt:"; cat "$dir/cli.err"; [ -f "$dir/wire.txt" ] && head -5 "$dir/wire.txt"
done
fail "the wire does not measure flat in 3 takes"
