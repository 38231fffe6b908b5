#!/usr/bin/env bash
# Runs the wizard window's tests on a real X server (Xvfb) on Qt's xcb
# platform: all of them under the openbox window manager, then the
# live-window tests once more without any window manager.
#   scripts/xvfb-tests.sh BUILD_DIR
set -euo pipefail
build=${1:-build}

# Inside the X session: start openbox when asked and wait until it manages
# the screen, run the command, stop openbox.
if [ "${1:-}" = --inside ]; then
  wm=$2; shift 2
  if [ "$wm" = openbox ]; then
    openbox >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 100); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
      sleep 0.1
    done
  fi
  set +e
  QT_QPA_PLATFORM=xcb "$@"
  rc=$?
  set -e
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  exit "$rc"
fi

status=0
passed=0
failed=0
run() {  # WM BINARY [gtest args]
  local wm=$1 bin=$2
  shift 2
  echo "== $(basename "$bin") on Xvfb, window manager: $wm"
  set +e
  xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --inside "$wm" "$bin" "$@"
  local rc=$?
  set -e
  if [ "$rc" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); status=1; fi
}
run openbox "$build"/gui_wizard_tests
run none "$build"/gui_wizard_tests --gtest_filter='LiveWindow.*'
echo "xvfb: runs passed $passed, failed $failed"
exit "$status"
