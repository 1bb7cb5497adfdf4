#!/usr/bin/env bash
# Fuzzes the reply splitter, parsers and dispatcher, the number conversions, the scan recompute and the
# readout's value text with libFuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer with
# float-cast-overflow), one target after the other, one fuzzer process at a time.
#
#   tools/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 60 s, all targets)
#
# Each target grows its working corpus in build/fuzz/corpus/<target>, seeded from the committed corpus in
# tests/fuzz/corpus/<target>; a finding is saved in build/fuzz/findings/<target>/ and makes the script
# fail. Add the finding's input to the committed corpus and a test to the component's test program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

seconds=${1:-60}
shift || true
all=(fuzz_split_tokens fuzz_numbers fuzz_readout fuzz_replies fuzz_scan_params fuzz_dispatcher)
targets=("$@")
if ((${#targets[@]} == 0)); then targets=("${all[@]}"); fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_FUZZ=ON \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

status=0
total=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  findings=$build/findings/$t
  mkdir -p "$corpus" "$findings"
  cp -n tests/fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  extra=()
  # A reply longer than the driver's input queue is not what the dispatcher is for.
  if [[ $t == fuzz_dispatcher ]]; then extra=(-max_len=2048); fi
  log=$build/findings/$t.log
  set +e
  "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="$findings/" "${extra[@]}" "$corpus" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  runs=${runs:-0}
  total=$((total + runs))
  if ((rc != 0)); then
    status=1
    echo "$t: FINDING after $runs inputs (see $log and $findings/)"
    grep -m3 -E 'property broken|runtime error|ERROR: (AddressSanitizer|libFuzzer)' "$log" || true
  else
    echo "$t: $runs inputs, no finding"
  fi
done
echo "total: $total inputs"
exit $status
