#!/usr/bin/env bash
# The Windows installer end to end under Wine on a virtual display:
# KTVTune-VERSION-setup.exe /S installs into a private prefix for the
# current user, the installed ktvtune.exe opens its window ("KTV Tune") with
# Qt's real Windows platform, Connect links to the installed ktvtune-box.exe
# (its log shows the Link request), and the uninstaller leaves the install
# folder, the Start-menu entry and the installed-programs entry gone and a
# file of the user's beside the folder where it was. KTV_SHOT=FILE keeps a
# picture of the window.
# Usage: tests/windows/InstallerE2e.sh KTVTune-VERSION-setup.exe
set -euo pipefail
setup=$(realpath "$1")
cd "$(dirname "$0")/../.."
source scripts/windows-wine.sh
wine=/usr/lib/wine/wine64
work=$(mktemp -d "${TMPDIR:-/tmp}/ktvtune-e2e.XXXXXX")
xvfb=""
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [ ! -f "$work/box.log" ] || { echo "box log:" >&2; cat "$work/box.log" >&2; }
  exit 1
}

# A display of our own.
for n in $(seq 90 120); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1280x960x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.2; done

ktv_wine_prefix "$work/prefix"
local_appdata=$($wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
programs=$($wine winepath -u "$local_appdata" 2>/dev/null | tr -d "\r")
[ -n "$programs" ] || fail "the user's local application-data folder ($local_appdata) was not found"
programs=${programs%/}/Programs
install="$programs/KTV Tune"
[ ! -e "$install" ] || fail "$install exists before installing"

# Silent, per user: no rights asked for, the default folder.
$wine "$setup" /S
/usr/lib/wine/wineserver -w
for f in ktvtune.exe ktvtune-cli.exe ktvtune-box.exe Qt6Core.dll qt.conf plugins/platforms/qwindows.dll uninstall.exe; do
  [ -f "$install/$f" ] || fail "$f was not installed"
done
appdata=$($wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
menu="$($wine winepath -u "$appdata" 2>/dev/null | tr -d '\r')"
menu="${menu%/}/Microsoft/Windows/Start Menu/Programs/KTV Tune.lnk"
[ -f "$menu" ] || fail "no Start-menu entry at $menu"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KTVTune'
$wine reg query "$uninstall_key" /v DisplayName >/dev/null 2>&1 || fail "no entry among the installed programs"
# Something of the user's beside the program, which the uninstaller must leave.
echo mine >"$programs/notes.txt"
echo "installed into $install"

# The virtual box, then the window from the installed place.
(cd "$work" && exec $wine "$install/ktvtune-box.exe" --name e2e >"$work/box.log" 2>&1) &
box=$!
(cd "$work" && exec $wine "$install/ktvtune.exe" >"$work/window.log" 2>&1) &
window=$!
id=""
for _ in $(seq 120); do
  id=$(xdotool search --name '^KTV Tune$' 2>/dev/null | head -n 1 || true)
  [ -z "$id" ] || break
  kill -0 "$window" 2>/dev/null || { cat "$work/window.log" >&2; fail "ktvtune.exe ended before its window appeared"; }
  sleep 0.5
done
[ -n "$id" ] || fail "no window titled \"KTV Tune\" appeared"
echo "window \"$(xdotool getwindowname "$id")\" is up"
sleep 3

# Connect sits at the right end of the tab row.
eval "$(xdotool getwindowgeometry --shell "$id")"
xdotool windowactivate --sync "$id" 2>/dev/null || true
xdotool mousemove --window "$id" $((WIDTH - 50)) "${KTV_CONNECT_Y:-38}" click 1
for _ in $(seq 40); do
  grep -q 'Link' "$work/box.log" && break
  sleep 0.25
done
grep -q 'Link' "$work/box.log" || fail "the box saw no Link request"
echo "the box saw: $(grep -m1 'Link' "$work/box.log")"
sleep 2
if [ -n "${KTV_SHOT:-}" ]; then
  import -window root "$KTV_SHOT"
  echo "picture: $KTV_SHOT"
fi

# The window closes as its close box does; then the box.
xdotool windowclose "$id" 2>/dev/null || xdotool key --window "$id" alt+F4
for _ in $(seq 40); do kill -0 "$window" 2>/dev/null || break; sleep 0.25; done
kill "$box" 2>/dev/null || true
/usr/lib/wine/wineserver -k 2>/dev/null || true
sleep 1

# The uninstaller copies itself aside and runs from there; wait for it.
$wine "$install/uninstall.exe" /S
/usr/lib/wine/wineserver -w
[ ! -e "$install" ] || { find "$install" >&2; fail "the install folder is still there"; }
[ ! -e "$menu" ] || fail "the Start-menu entry is still there"
! $wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the entry among the installed programs is still there"
[ "$(cat "$programs/notes.txt" 2>/dev/null)" = mine ] || fail "the uninstaller took a file that was not its own"
echo "PASS: installed, window up, linked to the box, uninstalled (the user's own file kept)"
