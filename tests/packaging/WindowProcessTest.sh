#!/bin/bash
# The window program as a session starts and ends it: without a display it
# says so in one line and exits 1; on SIGTERM (a logout) it saves what it
# remembers and exits 0.
set -u
ktvtune=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0

env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$tmp" "$ktvtune" >"$tmp/out" 2>"$tmp/err"
status=$?
if [ $status -ne 1 ]; then echo "no display: exit status $status, expected 1"; fail=1; fi
if [ "$(wc -l <"$tmp/err")" -ne 1 ] || ! grep -q "no display" "$tmp/err"; then
    echo "no display: expected one line naming the display, got:"; cat "$tmp/err"; fail=1
fi
ls "$tmp"/core* >/dev/null 2>&1 && { echo "no display: core dumped"; fail=1; }

mkdir -p "$tmp/config"
XDG_CONFIG_HOME="$tmp/config" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$tmp" "$ktvtune" >"$tmp/out2" 2>&1 &
pid=$!
# Wait until the program catches SIGTERM (bit 15 of SigCgt) before sending it.
for _ in $(seq 1 200); do
    mask=$(awk '/^SigCgt:/ {print $2}' /proc/$pid/status 2>/dev/null) || break
    [ -n "$mask" ] && (( (16#$mask >> 14) & 1 )) && break
    sleep 0.05
done
sleep 1 # let the window come up, so there is something to remember
kill -TERM $pid
wait $pid
status=$?
if [ $status -ne 0 ]; then echo "SIGTERM: exit status $status, expected 0"; cat "$tmp/out2"; fail=1; fi
ini="$tmp/config/ktvtune/ktvtune.ini"
if [ ! -f "$ini" ] || ! grep -q '^tab=' "$ini"; then echo "SIGTERM: $ini not written"; fail=1; fi
exit $fail
