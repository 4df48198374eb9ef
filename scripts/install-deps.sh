#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Idempotent: silent and quick when everything is present.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ cmake ninja-build pkg-config ccache
  # libraries
  qt6-base-dev qt6-base-dev-tools libpcre2-dev libzip-dev zlib1g-dev
  libpulse-dev libcurl4-openssl-dev
  # tests: real components
  libgtest-dev libgmock-dev pulseaudio pulseaudio-utils sox xvfb trayer
  xdotool x11-utils imagemagick python3-pyftpdlib zip unzip desktop-file-utils patch
  libglib2.0-bin libgtk-3-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
