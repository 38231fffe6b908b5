#!/usr/bin/env bash
# Builds the program into build/ and starts the wizard.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOMVALE_TESTS=OFF -DLOOMVALE_BENCH=OFF >/dev/null
cmake --build build --target loomvale loomvale-extract
exec ./build/loomvale "$@"
