#!/usr/bin/env bash
# Installs what is missing, builds the console and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build build/release

run=(build/release/app/Orvane)
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  # No screen here (a server, a container): run on a virtual one so the console still starts.
  echo "No display found: starting the console on a virtual X server (xvfb-run)."
  run=(xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}")
fi
exec "${run[@]}"
