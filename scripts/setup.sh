#!/usr/bin/env bash
# Installs everything Tavolen needs to build, test and run on Debian 12.
# Idempotent: packages already present are left as they are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libcli11-dev
  libasound2-dev libasound2-plugins alsa-utils pulseaudio pulseaudio-utils
  libsdl2-dev libturbojpeg0-dev libjpeg-dev
  libfreetype-dev libfontconfig-dev fontconfig fonts-dejavu-core fonts-arphic-uming
  libyuv-dev
  iproute2 util-linux procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
