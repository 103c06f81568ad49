#!/usr/bin/env bash
# The main job: builds Tavolen and shows a camera in a web page driven by
# script. With no camera given it views the built-in substitute camera.
#
#   run.sh [--seconds N] [ADDRESS[:PORT] USER [PASSWORD]]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tavolen-host tavolen-camsim
exec bash scripts/demo.sh "$@"
