#!/usr/bin/env bash
# Takes the README's screenshot: the console on a virtual screen, connected to the simulator on COM3,
# moved to 532.5 nm. Usage: tools/screenshot.sh [BUILD_DIR] [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
out=${2:-docs/orvane-console.png}
mkdir -p "$(dirname "$out")"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target orvane orvane-sim orvane-xshot >/dev/null

work=$(mktemp -d)
cleanup() {
  kill "${app_pid:-}" "${sim_pid:-}" "${x_pid:-}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
x_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$build/tools/sim/orvane-sim" --port-dir "$work/ports" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [[ -e "$work/ports/COM3" ]] && break; sleep 0.1; done

# The console writes its log beside itself; run a copy so the screenshot leaves no log in the build.
cp "$build/app/orvane" "$work/orvane"
ORVANE_PORT_DIR="$work/ports" QT_QPA_PLATFORM=xcb "$work/orvane" >"$work/app.log" 2>&1 &
app_pid=$!
window=""
for _ in $(seq 100); do
  window=$(xdotool search --name '^Orvane$' 2>/dev/null | head -1) && [[ -n "$window" ]] && break
  sleep 0.1
done
[[ -n "$window" ]] || { echo "the console did not open its window" >&2; exit 1; }
sleep 1

at() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
at 52 82                       # COMM. of spectrograph 1: the search finds COM3 in a few seconds
sleep 9                        # COM1, COM2, COM3: two ticks of a second each, then success and the info reply
at 86 281                      # target wavelength
xdotool key --window "$window" ctrl+a
xdotool type --window "$window" 532.5
at 218 282                     # MOVE
sleep 2.5
eval "$(xdotool getwindowgeometry --shell "$window")"
"$build/tools/xshot/orvane-xshot" "$out" "$X" "$Y" "$WIDTH" "$HEIGHT"
echo "saved $out"
