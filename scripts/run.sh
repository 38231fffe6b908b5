#!/usr/bin/env bash
# Builds the program into build/ and starts the wizard.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
# Every option said outright, as the test command does for the same folder.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOMVALE_SANITIZE=OFF -DLOOMVALE_FUZZ=OFF \
  -DLOOMVALE_GUI=ON -DLOOMVALE_TESTS=OFF -DLOOMVALE_BENCH=OFF >/dev/null
cmake --build build --target loomvale loomvale-extract
exec ./build/loomvale "$@"
