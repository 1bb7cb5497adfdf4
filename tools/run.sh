#!/usr/bin/env bash
# Installs what is missing, builds the console and starts it with the controller simulator: two virtual
# spectrographs, controller 1 on COM3 and controller 2 on COM5.
#
#   bash tools/run.sh              console + simulator (no hardware needed)
#   bash tools/run.sh --hardware   console alone, on the machine's serial ports (or $ORVANE_PORT_DIR)
#   bash tools/run.sh --build-only install what is missing and build, start nothing
#
# Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) the console runs on a virtual screen that
# is served by VNC on 127.0.0.1 only; the script prints how to connect.
set -euo pipefail
cd "$(dirname "$0")/.."

hardware=0
build_only=0
for arg in "$@"; do
  case "$arg" in
    --hardware) hardware=1 ;;
    --build-only) build_only=1 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "unknown option: $arg" >&2; exit 2 ;;
  esac
done

bash tools/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --target orvane orvane-sim
if ((build_only)); then
  echo "Built build/release/app/orvane and build/release/tools/sim/orvane-sim."
  exit 0
fi

pids=()
work=$(mktemp -d)
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ((hardware == 0)); then
  build/release/tools/sim/orvane-sim --port-dir "$work/ports" >"$work/sim.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [[ -e "$work/ports/COM5" ]] && break; sleep 0.05; done
  if [[ ! -e "$work/ports/COM3" ]]; then
    echo "The controller simulator did not start:" >&2
    cat "$work/sim.log" >&2
    exit 1
  fi
  export ORVANE_PORT_DIR="$work/ports"
  echo "Controller simulator running: spectrograph 1 on COM3, spectrograph 2 on COM5."
  echo "Press COMM. on a panel to find its controller."
fi

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  # No screen here (a server, a container): a virtual screen, shown through VNC on the loopback only,
  # so that nobody else on the network can reach the instrument.
  display=""
  for n in $(seq 20 60); do
    if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then display=:$n; break; fi
  done
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
  port=5900
  while ss -ltn 2>/dev/null | grep -q ":$port "; do port=$((port + 1)); done
  x11vnc -display "$display" -localhost -rfbport "$port" -forever -shared -nopw -quiet \
    >"$work/vnc.log" 2>&1 &
  pids+=($!)
  echo
  echo "No display found: the console is served by VNC on 127.0.0.1:$port."
  echo "Connect with a VNC viewer on this machine, e.g.:  vncviewer 127.0.0.1::$port"
  echo "From another machine, tunnel it first:  ssh -L $port:127.0.0.1:$port $(whoami)@$(hostname)"
  echo "Close the console window or press Ctrl+C here to stop."
  echo
fi

build/release/app/orvane &
app=$!
pids+=("$app")
wait "$app"
