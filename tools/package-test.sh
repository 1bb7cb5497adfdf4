#!/usr/bin/env bash
# Checks the Debian package made by tools/package.sh: lintian finds nothing in it, down to its pedantic
# hints, its metadata and files pass the desktop's validators, it installs into a scratch root, and the
# console started from there runs on a virtual screen and logs to $XDG_STATE_HOME/Orvane/Logs, never
# beside itself.
# Usage: tools/package-test.sh [PACKAGE_DIR]   (exits 77, "skipped", when no package was built)
set -euo pipefail
dir=${1:-$(dirname "$0")/../build/package}
shopt -s nullglob
debs=("$dir"/orvane_*.deb)
if ((${#debs[@]} == 0)); then
  echo "no package in $dir: run tools/package.sh first"
  exit 77
fi
deb=$(realpath "${debs[0]}")

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# Metadata: the libraries the programs link, and the window's font.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for need in libqt6widgets6 libqt6gui6 libqt6core6 libc6 fonts-liberation2; do
  [[ "$depends" == *"$need"* ]] || fail "Depends lacks $need"
done
[[ "$(dpkg-deb -f "$deb" Package)" == orvane ]] || fail "package name"
# Every dependency is one this Debian can satisfy.
apt-get -s -qq install "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt cannot install it"; }

root=$work/root
dpkg -x "$deb" "$root"
for f in usr/bin/orvane usr/bin/orvane-sim \
  usr/share/applications/org.orvane.orvane.desktop usr/share/metainfo/org.orvane.orvane.metainfo.xml \
  usr/share/man/man1/orvane.1.gz usr/share/man/man1/orvane-sim.1.gz \
  usr/share/icons/hicolor/scalable/apps/orvane.svg; do
  [[ -e "$root/$f" ]] || fail "missing /$f"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/orvane.png
  [[ -f "$png" ]] || fail "missing icon ${size}x${size}"
  file "$png" | grep -q "PNG image data, $size x $size" || fail "icon ${size}x${size} is $(file -b "$png")"
done
desktop-file-validate "$root/usr/share/applications/org.orvane.orvane.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.orvane.orvane.metainfo.xml" || fail "metainfo"
for page in orvane orvane-sim; do
  warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1)
  [[ -z "$warnings" ]] || fail "man page $page: $warnings"
done

# Debian's own judgement, down to the informational, pedantic and experimental hints: not one may show.
# (An override, where a hint is wrong for this package, would travel in the package with its reason.)
status=0
lintian --display-info --display-experimental --pedantic --tag-display-limit 0 \
  --fail-on error,warning,info,pedantic,experimental "$deb" >"$work/lintian.log" 2>&1 || status=$?
# Said on stderr whenever lintian runs as root, as in a container: about the run, not the package.
grep -vx 'running with root privileges is not recommended!' "$work/lintian.log" >"$work/lintian.tags" || true
if ((status)) || [[ -s "$work/lintian.tags" ]]; then
  cat "$work/lintian.tags"
  fail "lintian (status $status)"
fi
echo "lintian: no tags"

# What lintian passes in silence: the copyright file is the machine-readable kind, its licence is the one
# of LICENSE and of the AppStream file, and the changelog's latest entry is this version.
doc=$root/usr/share/doc/orvane
head -1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not machine-readable"
licence=$(sed -n '/^Files: \*$/,/^$/s/^License: //p' "$doc/copyright")
metainfo_licence=$(sed -n 's:.*<project_license>\(.*\)</project_license>.*:\1:p' \
  "$root/usr/share/metainfo/org.orvane.orvane.metainfo.xml")
[[ -n "$licence" && "$licence" == "$metainfo_licence" ]] ||
  fail "the copyright file says '$licence', the AppStream file '$metainfo_licence'"
head -1 "$(dirname "$0")/../LICENSE" | grep -q "^$licence License$" || fail "LICENSE is not the $licence licence"
grep -q '<url type="homepage">https://' "$root/usr/share/metainfo/org.orvane.orvane.metainfo.xml" ||
  fail "the AppStream file has no home page"
version=$(dpkg-deb -f "$deb" Version)
latest=$(zcat "$doc/changelog.gz" | sed -n 1p)
[[ "$latest" == "orvane ($version) "* ]] || fail "the changelog's latest entry is not $version: $latest"

# The hardening lintian can only infer: both programs bind every symbol at start and call the checked
# variants of the C library's functions, which only a compile with _FORTIFY_SOURCE and optimisation gives.
# Whole outputs are read: grep -q would leave the pipe early, and pipefail would take that as failure.
for program in orvane orvane-sim; do
  [[ "$(readelf -d "$root/usr/bin/$program")" =~ FLAGS[^$'\n']*BIND_NOW ]] ||
    fail "$program is not linked with -z now"
  [[ "$(nm -D "$root/usr/bin/$program")" =~ " U __"[a-z_]+"_chk@" ]] || fail "$program calls no fortified function"
done

# The installed programs answer on the command line without any screen.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/orvane" --version | grep -qx "orvane [0-9.]*" ||
  fail "orvane --version"
"$root/usr/bin/orvane-sim" --help | grep -q "port-dir" || fail "orvane-sim --help"

# The installed console on a virtual screen, with the simulator, as a user with a fresh home.
# Xvfb picks a free display itself and names it once it is ready: other programs may be taking numbers too.
# Without -noreset the server resets when the readiness check disconnects, and refuses the console meanwhile.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
display=:$(head -1 "$work/display")
DISPLAY=$display xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"

"$root/usr/bin/orvane-sim" --port-dir "$work/ports" >"$work/sim.log" 2>&1 &
pids+=($!)
home=$work/home
mkdir -p "$home"
env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$home" XDG_STATE_HOME="$home/state" DISPLAY="$display" \
  ORVANE_PORT_DIR="$work/ports" "$root/usr/bin/orvane" >"$work/out.log" 2>"$work/err.log" &
app=$!
pids+=("$app")
window=""
for _ in $(seq 200); do
  window=$(DISPLAY=$display xdotool search --name '^Orvane$' 2>/dev/null | head -1) && [[ -n "$window" ]] && break
  kill -0 "$app" 2>/dev/null || { cat "$work/err.log" "$work/xvfb.log"; fail "the console ended at start"; }
  sleep 0.1
done
[[ -n "$window" ]] || fail "the console opened no window"
DISPLAY=$display xprop -id "$window" _NET_WM_ICON >"$work/icon.txt" || true
grep -q "Icon (48 x 48)" "$work/icon.txt" || fail "the window has no icon"
logs=$home/state/Orvane/Logs
log=$logs/log_$(date +%Y_%m_%d).txt
[[ -f "$log" ]] || fail "no log file in $logs: $(ls -R "$home")"
[[ ! -e "$root/usr/bin/Logs" ]] || fail "the installed console wrote beside itself"

# COMM. of panel 1 finds the simulator's controller on COM3; Close writes out the log and ends the program.
at() { DISPLAY=$display xdotool mousemove --window "$window" "$1" "$2" click 1; }
at 52 82
sleep 8 # COM1, COM2, COM3: two ticks of a second each, then success
at 685 20
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then fail "the console did not close"; fi
wait "$app" || fail "the console exited with $?"
grep -q $'\tConnection Successs. COM3\r$' "$log" || { cat "$log"; fail "the log lacks the connection"; }
if grep -q . "$work/err.log"; then
  cat "$work/err.log"
  fail "the console warned on a normal start"
fi
echo "package $(basename "$deb"): installs, validates, starts and logs to \$XDG_STATE_HOME/Orvane/Logs"
