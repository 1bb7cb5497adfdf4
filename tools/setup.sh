#!/usr/bin/env bash
# Installs what the build, the tests and the demo need; does nothing when all is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libspdlog-dev
  clang-format clang libclang-rt-14-dev libxcb-xkb-dev locales
  fonts-liberation2 xvfb xdotool x11-utils x11-xkb-utils x11vnc iproute2
  appstream desktop-file-utils dpkg-dev file
  libtango-dev python3-tango mariadb-server tango-db dbconfig-no-thanks libtango-tools
  lintian qt6-gtk-platformtheme libgtk-3-bin dex dbus-daemon dbus-x11 python3-taurus tango-test
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  # The Tango tests start a database server of their own in a scratch folder; the system's MariaDB
  # service is not wanted. Where nothing else decides, it is not started by the install.
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$policy"
    own_policy=1
  fi
  status=0
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
  if ((own_policy)); then "${sudo_cmd[@]}" rm -f "$policy"; fi
  if ((status)); then exit "$status"; fi
fi

# The console is tested under German and French number formats (comma decimal separator) as well.
wanted_locales=(de_DE.UTF-8 fr_FR.UTF-8)
for l in "${wanted_locales[@]}"; do
  norm=$(echo "${l%%.*}.utf8")
  if ! locale -a 2>/dev/null | grep -qx "$norm"; then
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" localedef -i "${l%%.*}" -c -f UTF-8 -A /usr/share/locale/locale.alias "$l"
  fi
done
