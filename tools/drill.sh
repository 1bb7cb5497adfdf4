#!/usr/bin/env bash
# Runs the console's random drill (clicks, remote clients and controller faults at random times) for as
# long as asked, with new seeds each round; prints the seed of any failing sequence, which replays it:
#   ORVANE_DRILL_SEED=<seed> ORVANE_DRILL_SEQUENCES=1 build/dev/tests/app/test_app --gtest_filter='PanelDrill.*'
# Usage: bash tools/drill.sh [MINUTES] [BUILD_DIR]   (default 10 minutes, build/dev)
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-10}
build=${2:-build/dev}
if [[ ! -x $build/tests/app/test_app ]]; then
  bash tools/setup.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" --target test_app
fi
export QT_QPA_PLATFORM=offscreen
steps=${ORVANE_DRILL_STEPS:-60}
per_round=20
seed=${ORVANE_DRILL_SEED:-$(date +%s)}
end=$(( $(date +%s) + minutes * 60 ))
sequences=0
while (( $(date +%s) < end )); do
  log=$(mktemp)
  if ! ORVANE_DRILL_SEED=$seed ORVANE_DRILL_SEQUENCES=$per_round ORVANE_DRILL_STEPS=$steps \
       "$build/tests/app/test_app" --gtest_filter='PanelDrill.*' >"$log" 2>&1; then
    grep -v '2-byte object' "$log" | grep -A8 -E 'Failure' | head -60
    grep -E 'DRILL FAILED' "$log"
    echo "drill: FAILED; replay with ORVANE_DRILL_SEED=$(grep -o 'DRILL FAILED seed [0-9]*' "$log" | head -1 | awk '{print $4}') ORVANE_DRILL_SEQUENCES=1 ORVANE_DRILL_STEPS=$steps"
    echo "drill: $sequences sequences passed before it"
    rm -f "$log"
    exit 1
  fi
  passed=$(grep -c 'steps passed' "$log" || true)
  sequences=$(( sequences + passed ))
  rm -f "$log"
  seed=$(( seed + per_round ))
done
echo "drill: $sequences sequences of $steps steps ($(( sequences * steps )) steps) passed in $minutes minutes"
