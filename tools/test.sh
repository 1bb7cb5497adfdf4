#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, runs every
# test through ctest; before that, the tests of the threaded parts (serial, log, remote control) also
# run under ThreadSanitizer and the Debian package is built for its install test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tools/tsan.supp"

# ThreadSanitizer: only the tests of the threads that meet the window thread: the serial and log
# components, the remote-control bridge, and the console serving Tango clients.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_TSAN=ON -DORVANE_BUILD_BENCH=OFF >/dev/null
tsan_targets=$(cmake --build build/tsan --target help |
  sed -n 's/^\(test_\(log\|comm\|remote\)\|orvane\|orvane-sim\): .*/\1/p' | sort -u)
if [[ -n "$tsan_targets" ]]; then
  # shellcheck disable=SC2086
  cmake --build build/tsan -j "$jobs" --target $tsan_targets
  ctest --test-dir build/tsan -L 'tsan|tango' --output-on-failure -j "$jobs" --timeout 300
fi

# The Debian package, which the package test below installs into a scratch root and starts.
bash tools/package.sh

# AddressSanitizer + UndefinedBehaviorSanitizer: everything; ctest's summary closes the output.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 300
