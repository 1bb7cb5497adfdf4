#!/usr/bin/env bash
# Soak: both spectrographs scanning at the fastest period for MINUTES against two simulated controllers.
# Prints the console's resident memory, open descriptors and threads once both scans run, every five
# minutes and at the end, then checks that every "Moving To" in the log file has its "Moving Ok". Not part of the test command.
#
#   tools/soak.sh [MINUTES]      (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-30}
bash tools/setup.sh
build=build/soak
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_BUILD_TESTS=OFF \
  -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target orvane-soak orvane-sim >/dev/null

work=$(mktemp -d)
cleanup() {
  kill "${soak_pid:-}" "${sim_pid:-}" "${x_pid:-}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=""
for n in $(seq 120 180); do
  if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then display=:$n; break; fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
x_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# Controllers that answer at once: the console's scan timers set the pace.
"$build/tools/sim/orvane-sim" --port-dir "$work/ports" --baud 0 --speed 0 --grating-ms 0 --init-ms 0 \
  >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [[ -e "$work/ports/COM5" ]] && break; sleep 0.1; done

# The console writes its log beside itself: a copy in the work folder keeps the build clean.
cp "$build/tools/soak/orvane-soak" "$work/orvane-soak"
ORVANE_PORT_DIR="$work/ports" QT_QPA_PLATFORM=xcb "$work/orvane-soak" "$minutes" >"$work/soak.out" 2>&1 &
soak_pid=$!

figures() {
  local rss fds threads
  rss=$(awk '/^VmRSS:/ {print $2 " " $3}' "/proc/$soak_pid/status")
  fds=$(find "/proc/$soak_pid/fd" -mindepth 1 -maxdepth 1 | wc -l)
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$soak_pid/status")
  echo "$1: resident $rss, descriptors $fds, threads $threads"
}
await() {
  until grep -q "$1" "$work/soak.out"; do
    if ! kill -0 "$soak_pid" 2>/dev/null; then
      echo "the console ended before \"$1\":" >&2
      cat "$work/soak.out" >&2
      exit 1
    fi
    sleep 0.5
  done
}

await "measure start"
figures "start"
echo "scanning for $minutes minutes ..."
# The log panes fill to their 10,000 lines in the first minutes; after that the figures must stay level.
started=$SECONDS
next=300
until grep -q "measure end" "$work/soak.out"; do
  kill -0 "$soak_pid" 2>/dev/null || break
  if ((SECONDS - started >= next)); then
    figures "$(printf '%3d min' $((next / 60)))"
    next=$((next + 300))
  fi
  sleep 1
done
await "measure end"
figures "end  "
status=0
wait "$soak_pid" || status=$?
soak_pid=""
grep -v '^measure' "$work/soak.out" || true

log=$(find "$work/Logs" -name 'log_*.txt' | sort | tail -1)
if [[ -z "$log" ]]; then
  echo "no log file written" >&2
  exit 1
fi
# Both spectrographs write to the one file: at most two moves are outstanding at any line, none at the end.
awk '
  /\tMoving To / { to++; open++; if (open > 2) bad = bad "\nline " NR ": a third move before a reply" }
  /\tMoving Ok$/ { ok++; open--; if (open < 0) bad = bad "\nline " NR ": a reply without its move" }
  END {
    printf "log: %d \"Moving To\", %d \"Moving Ok\"\n", to, ok
    if (open != 0) bad = bad "\n" open " moves without their reply"
    if (bad != "") { printf "FAULT:%s\n", bad; exit 1 }
  }' <(tr -d '\r' <"$log") || status=1
exit $status
