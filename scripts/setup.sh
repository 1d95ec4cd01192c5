#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the program need.
# Idempotent: packages already present are left alone. Installs as root, or through sudo
# when this is not root and a package is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6serialport6
  libgl-dev libxkbcommon-dev
  googletest libgtest-dev libgmock-dev
  qt6-qpa-plugins libqt6test6
  fonts-liberation fonts-dejavu-core
  srecord binutils ccache time bc
  libbenchmark-dev python3
  ser2net
  dpkg-dev file lintian desktop-file-utils man-db
  xvfb xauth x11-apps x11-utils imagemagick openbox xdotool libxcb1-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then
      SUDO="sudo"
    else
      echo "These packages are missing and installing them needs root (no sudo here):" >&2
      echo "  ${missing[*]}" >&2
      echo "Run this script as root once, or install them with apt-get as root." >&2
      exit 1
    fi
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
