#!/usr/bin/env bash
# Makes the README's pictures of the window from the built program: docs/window.png (COM1
# open on a virtual cable after four presses) and docs/port-menu.png (the menu of COM1), on a
# virtual X display of their own.
#   tools/screenshot.sh [BUILD_DIR]    (tools/dev.sh start or test builds the program)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tools/install-missing xvfb xdotool x11-apps netpbm socat fonts-liberation2
[ -x "$build/dorq-pulse" ] || { echo "screenshot: no $build/dorq-pulse: build it first" >&2; exit 1; }
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[$i]}" 2>/dev/null || true
        wait "${pids[$i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -nolisten tcp -screen 0 640x640x24 3>"$work/display" 2>/dev/null &
pids+=($!)
until [ -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# COM1 on a virtual cable whose far end is read, so that the presses are sent.
socat pty,raw,echo=0,link="$work/plc" pty,raw,echo=0,link="$work/mechanism" &
pids+=($!)
until [ -e "$work/mechanism" ]; do sleep 0.1; done
cat "$work/mechanism" >/dev/null &
pids+=($!)
# Installed as cmake --install would (so that "Meer info" names /usr/local/share/doc/...),
# but only in a mount namespace of its own; with settings of its own, so that the remembered
# devices of the user stay as they are.
mkdir -m 700 "$work/runtime"
$sudo unshare -m sh -c 'mount -t tmpfs tmpfs /usr/local &&
    cmake --install "$1" --prefix /usr/local >/dev/null && shift && exec "$@"' sh "$build" \
    env XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" \
    /usr/local/bin/dorq-pulse --com1 "$work/plc" --no-journal &
pids+=($!)
window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name "DORQ PLC Pulse" 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "screenshot: the window did not appear" >&2; exit 1; }
xdotool windowfocus --sync "$window"
sleep 0.5
# From "Kanaal 1" to the options, where Space chooses COM1; then four channels by their digit.
xdotool key --delay 100 Tab Tab Tab Tab Tab space 1 5 8 3
sleep 0.5

eval "$(xdotool getwindowgeometry --shell "$window")" # X, Y, WIDTH, HEIGHT
shot() { # file, height
    xwd -root -silent | xwdtopnm 2>/dev/null |
        pamcut -left "$X" -top "$Y" -width "$WIDTH" -height "$2" | pnmtopng >"$1"
    echo "made $1 (${WIDTH}x$2)"
}
shot docs/window.png "$HEIGHT"
# The option's menu, from the keyboard as the README tells: the menu key on COM1.
xdotool key Menu
sleep 0.5
shot docs/port-menu.png 215
xdotool key Escape
