#!/usr/bin/env bash
# Runs the window's desktop tests on Wayland: weston, on its X11 backend
# inside Xvfb, with Qt's wayland platform and its client-side decorations
# (the kind of desktop where a fixed-size window's maximize was fatal).
#   scripts/wayland-tests.sh BUILD_DIR
set -euo pipefail
build=${1:-build}

# Inside the X session: a compositor of our own, on a socket of our own.
if [ "${1:-}" = --inside ]; then
  shift
  runtime=$(mktemp -d)
  chmod 700 "$runtime"
  export XDG_RUNTIME_DIR=$runtime
  weston --backend=x11-backend.so --socket=lv-wayland --width=1024 --height=768 --idle-time=0 \
    >"$runtime/weston.log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    [ -S "$runtime/lv-wayland" ] && break
    sleep 0.1
  done
  # The socket comes before the shell's panel, which changes the area a
  # maximized window gets: let the desktop settle as a user's would have.
  sleep 1
  set +e
  env -u DISPLAY QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=lv-wayland "$@"
  rc=$?
  set -e
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
  if [ "$rc" -ne 0 ]; then tail -n 20 "$runtime/weston.log" >&2; fi
  rm -rf "$runtime"
  exit "$rc"
fi

echo "== gui_wizard_tests on weston (Wayland)"
set +e
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --inside "$build"/gui_wizard_tests --gtest_filter='Desktop.*'
rc=$?
set -e
echo "wayland: runs passed $((rc == 0)), failed $((rc != 0))"
exit "$rc"
