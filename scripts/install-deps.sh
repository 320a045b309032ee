#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-serialport-dev libserialport-dev libjpeg-dev libgl-dev
  clang libclang-rt-14-dev
  socat lrzsz xvfb xdotool openbox imagemagick fonts-dejavu-core python3
  help2man desktop-file-utils dpkg-dev file lintian librsvg2-bin bash-completion
  nlohmann-json3-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
