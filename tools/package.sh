#!/usr/bin/env bash
# Builds the Debian package of the console and its simulator: Release, without tests and benchmarks, in
# build/package. Prints the package's path. Install it with: sudo apt-get install ./build/package/orvane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF -DORVANE_BUILD_DEV_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" # with tests, benchmarks and developer tools off: the programs and manual pages
rm -f "$build"/orvane_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/orvane_*.deb
