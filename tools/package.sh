#!/usr/bin/env bash
# Builds the Debian package of the console and its simulator: Release, with Debian's hardening flags,
# without tests and benchmarks, in build/package. Prints the package's path. Install it with:
# sudo apt-get install ./build/package/orvane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=build/package
# Debian's hardening flags, all of them (bind-now included). CMake has no place for CPPFLAGS, where
# _FORTIFY_SOURCE lives, so they go in front of the compiler flags; Release's -O3 comes after them and
# gives fortification the optimisation it needs. Passed on the command line, they replace whatever an
# earlier configure of this tree left in its cache.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
  -DCMAKE_STRIP="$PWD/packaging/strip.sh" \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF -DORVANE_BUILD_DEV_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" # with tests, benchmarks and developer tools off: the programs and manual pages
rm -f "$build"/orvane_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/orvane_*.deb
