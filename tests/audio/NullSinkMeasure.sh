#!/bin/bash
# Sweep measurements through the real sound path without a sound card: a
# PulseAudio server of the test's own, in its own runtime folder, with a null
# sink and, before it, a LADSPA filter sink (Steve Harris's single band
# parametric); ktvtune-cli plays the sweep into a sink and records the null
# sink's monitor through PortAudio. A wire measures flat, the filter as the
# plugin itself answers an impulse offline. Then the same with two busy
# processes beside it, and with the measuring process stopped in mid-sweep:
# a take that drops out is measured again, never reported.
# Usage: NullSinkMeasure.sh KTVTUNE-CLI
set -u
cli=$1
dir=$(mktemp -d /tmp/ktv-audio.XXXXXX)
server=""
busy=()
cleanup() {
  for p in "${busy[@]}"; do kill "$p" 2>/dev/null; done
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
            "-o $dir/x.txt --average 0" "-o $dir/x.txt --calibration $dir/none.txt" "-o $dir/x.txt --takes 0" \
            "-o $dir/x.txt --takes 11"; do
  # shellcheck disable=SC2086
  "$cli" measure $args >/dev/null 2>&1
  [ $? -eq 2 ] || fail "'measure $args' was not refused as wrong usage"
done
[ ! -e "$dir/x.txt" ] || fail "a refused measurement wrote its file"

# The filter's own response: the plugin run offline on an impulse of half
# scale (16-bit WAV, 48 kHz, 4096 samples).
plugin=(/usr/lib/ladspa/single_para_1203.so singlePara -8 2000 2)
le32() { printf "%08x" "$1" | sed 's/\(..\)\(..\)\(..\)\(..\)/\\x\4\\x\3\\x\2\\x\1/'; }
{
  printf 'RIFF'; printf "$(le32 $((36 + 8192)))"; printf 'WAVEfmt '; printf "$(le32 16)"; printf '\x01\x00\x01\x00'
  printf "$(le32 48000)"; printf "$(le32 96000)"; printf '\x02\x00\x10\x00'; printf 'data'; printf "$(le32 8192)"
  printf '\x00\x40'; head -c 8190 /dev/zero
} >"$dir/impulse.wav"
applyplugin "$dir/impulse.wav" "$dir/filtered.wav" "${plugin[@]}" >/dev/null 2>&1 || fail "applyplugin could not run ${plugin[*]}"
od -An -v -t d2 -j 44 "$dir/filtered.wav" | tr -s ' ' '\n' | grep -v '^$' >"$dir/filter-ir.txt"

mkdir -p "$dir/runtime" "$dir/home" "$dir/state"
chmod 700 "$dir/runtime"
export XDG_RUNTIME_DIR=$dir/runtime PULSE_RUNTIME_PATH=$dir/runtime/pulse PULSE_STATE_PATH=$dir/state
export HOME=$dir/home PULSE_SERVER=unix:$dir/runtime/native
# Neither the user's nor the system's configuration: only what the test loads.
{
  printf 'load-module module-native-protocol-unix auth-anonymous=1 socket=%s\n' "$dir/runtime/native"
  printf 'load-module module-null-sink sink_name=ktvnull rate=48000 channels=1 format=float32le\n'
  printf 'load-module module-ladspa-sink sink_name=ktvfilter sink_master=ktvnull plugin=%s label=%s control=%s,%s,%s\n' \
    "$(basename "${plugin[0]}" .so)" "${plugin[1]}" "${plugin[2]}" "${plugin[3]}" "${plugin[4]}"
  printf 'set-default-sink ktvnull\nset-default-source ktvnull.monitor\n'
} >"$dir/default.pa"
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

# The device list, and not a line of the sound libraries' own (ALSA's
# plugins, JACK without a server) on the error stream.
"$cli" devices 2>"$dir/devices.err" >"$dir/devices.txt"
grep -q pulse "$dir/devices.txt" || { cat "$dir/devices.txt" "$dir/devices.err"; fail "PortAudio does not see the server"; }
[ ! -s "$dir/devices.err" ] || { head -5 "$dir/devices.err"; fail "devices printed $(wc -l <"$dir/devices.err") lines of the sound libraries"; }

# Every point from 20 Hz to 20 kHz within LIMIT dB of what is due: 0 dB
# through the wire, the plugin's answer to the impulse through the filter.
compare() { # FILE wire|filter LIMIT
  awk -v kind="$2" -v limit="$3" '
    NR == FNR { h[n++] = $1 / 16384; next }
    !/^\*/ && $1 >= 20 && $1 <= 20000 {
      due = 0
      if (kind == "filter") {
        re = 0; im = 0; w = 2 * 3.141592653589793 * $1 / 48000
        for (i = 0; i < n; i++) { re += h[i] * cos(w * i); im -= h[i] * sin(w * i) }
        due = 10 * log(re * re + im * im) / log(10)
      }
      points++; d = $2 - due; if (d < 0) d = -d; if (d > worst) { worst = d; at = $1 }
    }
    END { printf "%d points, largest deviation %.3f dB at %.1f Hz\n", points, worst, at; exit !(points > 230 && worst <= limit) }
  ' "$dir/filter-ir.txt" "$1"
}
# Only KTV Tune's lines on the error stream: the retakes and its own reasons.
own_lines() {
  if grep -v -E '^(Dropout at [0-9.]+ s \(.*\), measuring again \(take [0-9]+ of [0-9]+\)\.|ktvtune-cli: .*)$' "$1" | grep -q .; then
    grep -v -E '^(Dropout at|ktvtune-cli: )' "$1" | head -5
    return 1
  fi
}
# One measurement; "sink" picks the filter or the wire.
measure() { # OUT ERR SINK [ARGS...]
  local out=$1 err=$2 sink=$3
  shift 3
  pactl set-default-sink "$sink"
  rm -f "$out"
  timeout 120 "$cli" measure -o "$out" --out pulse --in pulse "$@" 2>"$err"
}

# Quiet: flat within 0.1 dB, and the filter's response within 0.25 dB.
measure "$dir/wire.txt" "$dir/wire.err" ktvnull --length 3 || { cat "$dir/wire.err"; fail "the wire could not be measured"; }
echo "wire: $(compare "$dir/wire.txt" wire 0.1)" || true
compare "$dir/wire.txt" wire 0.1 >/dev/null || fail "the wire does not measure flat within 0.1 dB"
own_lines "$dir/wire.err" || fail "measure printed lines of the sound libraries"
grep -q "left" "$dir/wire.err" && fail "measure showed its progress in a pipe"
measure "$dir/filter.txt" "$dir/filter.err" ktvfilter --length 3 || { cat "$dir/filter.err"; fail "the filter could not be measured"; }
echo "filter: $(compare "$dir/filter.txt" filter 0.25)"
compare "$dir/filter.txt" filter 0.25 >/dev/null || fail "the filter does not measure as the plugin answers within 0.25 dB"

# On a terminal the take, the time left and the level are shown.
pactl set-default-sink ktvnull
script -qfec "$cli measure -o $dir/tty.txt --out pulse --in pulse --length 1" /dev/null >"$dir/tty.log" 2>&1 </dev/null
grep -q "Take 1 of 3: [0-9.]* s left, input -[0-9]* dBFS" "$dir/tty.log" || { cat -v "$dir/tty.log" | head -5; fail "no progress on a terminal"; }
[ -s "$dir/tty.txt" ] || fail "the measurement on a terminal wrote nothing"

# The measuring process stopped for a second in mid-sweep: its buffers run
# dry. With one take allowed it fails saying where and writes nothing; with
# three it measures again and the result is flat. It runs on a terminal, so
# its progress tells when the sweep is playing.
stopped_in_sweep() { # OUT LOG ARGS...: the measurement's exit status
  local out=$1 log=$2
  shift 2
  script -qfec "exec $cli measure -o $out --out pulse --in pulse --length 3 $*" /dev/null >"$log" 2>&1 </dev/null &
  local term=$! pid="" left
  for _ in $(seq 300); do
    [ -n "$pid" ] || pid=$(pgrep -P $term)
    left=$(grep -a -o "Take 1 of [0-9]*: [0-9.]* s left" "$log" | tail -1 | sed 's/.*: \([0-9.]*\) s left/\1/')
    # 4.5 s a take: 3 s of sweep after the card's latency, 1.5 s of tail.
    [ -n "$pid" ] && [ -n "$left" ] && awk -v l="$left" 'BEGIN { exit !(l <= 3.0) }' && break
    sleep 0.05
  done
  # script stops itself while its command is stopped: both go on again.
  [ -n "$pid" ] && kill -STOP "$pid" && sleep 1 && kill -CONT "$pid" && sleep 0.1 && kill -CONT $term
  wait $term
}
pactl set-default-sink ktvnull
stopped_in_sweep "$dir/stopped.txt" "$dir/stopped.log" --takes 1 && fail "a take stopped in mid-sweep was reported: $(compare "$dir/stopped.txt" wire 0.1)"
grep -a -q "ktvtune-cli: No clean take in 1 try: Dropout at [0-9.]* s (" "$dir/stopped.log" || { cat -v "$dir/stopped.log"; fail "no reason for the spoilt take"; }
[ ! -e "$dir/stopped.txt" ] || fail "a measurement without a clean take wrote its file"
stopped_in_sweep "$dir/retaken.txt" "$dir/retaken.log" || { cat -v "$dir/retaken.log"; fail "a measurement with one spoilt take failed"; }
grep -a -o "Dropout at [0-9.]* s ([a-z ]*), measuring again (take 2 of 3)\." "$dir/retaken.log" >"$dir/retaken.err" || { cat -v "$dir/retaken.log"; fail "the spoilt take was not measured again"; }
echo "stopped in mid-sweep: $(head -1 "$dir/retaken.err"); $(compare "$dir/retaken.txt" wire 0.1)"
compare "$dir/retaken.txt" wire 0.1 >/dev/null || fail "the retaken measurement is not flat"

# Two busy processes beside it (bounded in time): three wire and three filter
# measurements. A result is within its limit, or there is none and the reason
# says why; and most measure.
for _ in 1 2; do timeout 300 sh -c 'while :; do :; done' & busy+=($!); done
measured=0
for kind in wire filter; do
  [ $kind = wire ] && { sink=ktvnull; limit=0.1; } || { sink=ktvfilter; limit=0.25; }
  for run in 1 2 3; do
    out=$dir/load-$kind-$run.txt err=$dir/load-$kind-$run.err
    if measure "$out" "$err" $sink --length 2; then
      takes=$(($(grep -c "measuring again" "$err") + 1))
      echo "under load, $kind $run: $takes take(s), $(compare "$out" $kind $limit)"
      compare "$out" $kind $limit >/dev/null || fail "a spoilt take was reported under load ($kind)"
      measured=$((measured + 1))
    else
      echo "under load, $kind $run: $(tail -1 "$err")"
      grep -q "^ktvtune-cli: No clean take" "$err" || { cat "$err"; fail "a measurement under load failed without a dropout"; }
      [ ! -e "$out" ] || fail "a failed measurement under load wrote its file"
    fi
    own_lines "$err" || fail "measure printed lines of the sound libraries under load"
  done
done
for p in "${busy[@]}"; do kill "$p" 2>/dev/null; done
busy=()
[ $measured -ge 4 ] || fail "only $measured of 6 measurements under load found a clean take"
echo PASS
