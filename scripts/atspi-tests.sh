#!/usr/bin/env bash
# Drives the wizard through the accessibility tree as a screen reader does:
# on Xvfb with openbox, on a private session bus with its own accessibility
# bus, the program's accessibility switched on.
#   scripts/atspi-tests.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

# Inside the X session, under openbox (started by xvfb-tests.sh).
if [ "${1:-}" = --walk ]; then
  # The program looks for the accessibility bus when it starts; start it first.
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
  exec /usr/bin/python3 "$here/tests/atspi/walk.py" "$2/loomvale" "$here/tests/fixtures/kinds.dll" "$3"
fi

build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== the wizard through AT-SPI, on Xvfb with openbox"
set +e
xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- \
  bash "$here/scripts/xvfb-tests.sh" --inside openbox bash "$0" --walk "$build" "$work" 2>&1 |
  grep -v -e '^dbus-daemon\[' -e 'SpiRegistry daemon'
rc=${PIPESTATUS[0]}
set -e
echo "atspi: runs passed $((rc == 0)), failed $((rc != 0))"
exit "$rc"
