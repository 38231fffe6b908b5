#!/usr/bin/env bash
# Builds and runs every test: the suite in build/ (the window tests also on
# Xvfb, the desktop tests on weston, a walk through the accessibility tree,
# the PNG images and the gallery page in Chromium),
# the same suite under AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/, and the fuzzers for a bounded time in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

summary=()
run_ctest() {
  local dir=$1 log
  log=$(mktemp)
  set +e
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 600) 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  summary+=("$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n1) ($dir)")
  rm -f "$log"
  return "$rc"
}

status=0
# Every option said outright: the run command configures the same folder
# without tests, and a cached value must not carry over.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOMVALE_SANITIZE=OFF -DLOOMVALE_FUZZ=OFF \
  -DLOOMVALE_GUI=ON -DLOOMVALE_TESTS=ON -DLOOMVALE_BENCH=ON
cmake --build build
run_ctest build || status=1
# The window tests again on a real X server, with and without a window manager.
bash scripts/xvfb-tests.sh build || status=1
# And on Wayland (weston), where the compositor's requests must not end it.
bash scripts/wayland-tests.sh build || status=1
# And through the accessibility tree, as a screen reader drives it.
bash scripts/atspi-tests.sh build || status=1
# The PNG images against an independent decoder, the gallery page in Chromium.
bash scripts/gallery-tests.sh build || status=1

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLOOMVALE_SANITIZE=ON -DLOOMVALE_FUZZ=OFF \
  -DLOOMVALE_GUI=ON -DLOOMVALE_TESTS=ON -DLOOMVALE_BENCH=OFF
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest build-asan || status=1

if [ -f fuzz/run.sh ]; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DLOOMVALE_FUZZ=ON -DLOOMVALE_SANITIZE=OFF -DLOOMVALE_GUI=OFF -DLOOMVALE_TESTS=OFF -DLOOMVALE_BENCH=OFF
  cmake --build build-fuzz
  bash fuzz/run.sh build-fuzz "${LOOMVALE_FUZZ_SECONDS:-120}" || { echo "fuzzing found a fault" >&2; status=1; }
fi

# Installation: into a temporary prefix, then as a Debian package.
bash scripts/check-install.sh build || status=1
bash scripts/build-deb.sh || status=1

printf '%s\n' "${summary[@]}"
exit "$status"
