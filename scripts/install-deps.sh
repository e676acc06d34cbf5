#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test Quellmark.
# Skips apt entirely when everything is already present.
set -euo pipefail

packages=(
  g++ cmake make pkg-config clang-format
  qt6-base-dev qt6-serialport-dev qt6-multimedia-dev libqt6opengl6-dev libgl-dev
  libqcustomplot-dev libqcustomplot2.1-qt6 libsystemd-dev systemd
  libmosquitto-dev mosquitto mosquitto-clients openssl
  libgtest-dev libbenchmark-dev fonts-liberation2 locales
  clang libclang-rt-14-dev
  dpkg-dev debhelper lintian desktop-file-utils appstream
  xvfb x11-utils imagemagick
  python3 python3-serial strace
  libmicrohttpd-dev libgnutls28-dev prometheus chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
