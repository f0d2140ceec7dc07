#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent: packages already present are left alone. Used by the README and CI.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev fonts-liberation fontconfig libfontconfig-dev
  libasound2-dev alsa-utils
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libssl-dev libcli11-dev nlohmann-json3-dev
  xvfb xauth x11-utils imagemagick xdotool
  librsvg2-bin gzip man-db groff-base bsdextrautils
  lintian appstream desktop-file-utils dpkg-dev file
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
