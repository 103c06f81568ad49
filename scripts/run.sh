#!/usr/bin/env bash
# Builds Tavolen and runs the viewer. With no camera given it views the
# built-in substitute camera.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [ -x build/tools/view/tavolen-view ]; then
  exec build/tools/view/tavolen-view "$@"
fi
# No viewer yet: camsim with a text-mode link on top of it.
exec build/tools/camsim/tavolen-camsim --demo "$@"
