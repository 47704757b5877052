#!/usr/bin/env bash
# Installs every Debian package the agent, its study service and its tests need.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config git ccache
  qt6-base-dev qt6-httpserver-dev libqt6sql6-sqlite qt6-websockets-dev libxkbcommon-dev libicu-dev
  qt6-l10n-tools qt6-tools-dev qt6-translations-l10n
  libsecret-1-dev libsecret-tools gnome-keyring dbus dbus-x11
  libcanberra-dev sound-theme-freedesktop espeak-ng
  fonts-dejavu-core fonts-wqy-microhei
  libgtest-dev libgmock-dev libbenchmark-dev
  libxcb-screensaver0-dev
  xvfb weston xwayland trayer openbox imagemagick x11-utils xdotool python3-dbus python3-gi
  dpkg-dev desktop-file-utils
  openssl nghttp2-server
  python3-dbus python3-gi
  clang-14 libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${TAVLO_FORCE_APT:-0}" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${packages[@]}"
fi
