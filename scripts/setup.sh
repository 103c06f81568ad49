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
  xvfb xdotool x11-apps x11-utils
  iproute2 util-linux procps
  libboost-dev nlohmann-json3-dev gdb chromium curl xdg-utils
  doxygen lintian file dpkg-dev
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

# The browser tests run Node with puppeteer-core (pinned in tests/web's lock
# file) against Debian's Chromium; nothing downloads a browser.
if ! command -v npm >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get install -y -q --no-install-recommends nodejs npm
fi
web_tests="$(dirname "$0")/../tests/web"
if [ ! -d "$web_tests/node_modules/puppeteer-core" ] ||
   ! cmp -s "$web_tests/package-lock.json" "$web_tests/node_modules/.installed-lock.json"; then
  (cd "$web_tests" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error &&
   cp package-lock.json node_modules/.installed-lock.json)
fi
