#!/usr/bin/env bash
# Holds the digit 3 down HOLDS times (1.2 s each, past the X server's autorepeat delay) in the
# built window on a virtual X display, as xdotool presses it, and counts the lines at the far
# end of COM1: one per hold, however the repeats arrive. --load keeps both cores busy
# meanwhile. Status 1 when the count is not HOLDS.
#   tools/held-keys.sh [--load] [HOLDS] [BUILD_DIR]      (about 1.4 s per hold)
set -euo pipefail
cd "$(dirname "$0")/.."
load=0
[ "${1:-}" = --load ] && load=1 && shift
holds=${1:-100}
build=${2:-build}
tools/install-missing xvfb xdotool socat
[ -x "$build/dorq-pulse" ] || { echo "held-keys: no $build/dorq-pulse: build it first" >&2; exit 1; }

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
socat pty,raw,echo=0,link="$work/plc" pty,raw,echo=0,link="$work/mechanism" &
pids+=($!)
until [ -e "$work/mechanism" ]; do sleep 0.1; done
cat "$work/mechanism" >"$work/received" &
pids+=($!)
mkdir -m 700 "$work/runtime"
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime \
    "$build/dorq-pulse" --com1 "$work/plc" --no-journal &
pids+=($!)
window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name "DORQ PLC Pulse" 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "held-keys: the window did not appear" >&2; exit 1; }
xdotool windowfocus --sync "$window"
# From "Kanaal 1" to the options, where Space chooses COM1.
xdotool key --delay 100 Tab Tab Tab Tab Tab space
if ((load)); then
    for _ in 1 2; do
        (while :; do :; done) &
        pids+=($!)
    done
fi
started=$SECONDS
for ((hold = 0; hold < holds; hold++)); do
    xdotool keydown 3 sleep 1.2 keyup 3 sleep 0.1
done
sleep 0.5 # the last line's way to the far end
lines=$(tr -cd '\n' <"$work/received" | wc -c)
echo "held-keys: $holds holds of 3$( ((load)) && echo ' with both cores busy'), $lines lines" \
     "($((SECONDS - started)) s)"
((lines == holds))
