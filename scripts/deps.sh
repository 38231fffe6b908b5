#!/usr/bin/env bash
# Installs the Debian packages a build needs, skipping those already there.
#   scripts/deps.sh run    what building and starting the program needs
#   scripts/deps.sh test   that plus what the tests, fuzzers and fixtures need
set -euo pipefail

# qt6-qpa-plugins holds the xcb platform the window needs on an X desktop.
run_pkgs=(cmake ninja-build g++ qt6-base-dev qt6-qpa-plugins libpng-dev)
test_pkgs=("${run_pkgs[@]}" googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
  binutils-mingw-w64-i686 imagemagick python3-pil icoutils libwine fonts-wine
  xvfb xauth openbox x11-utils xdotool x11-apps weston qt6-wayland
  python3-pyatspi at-spi2-core dbus-daemon dbus-bin fd-find chromium tidy
  desktop-file-utils appstream man-db bash-completion build-essential debhelper dpkg-dev fakeroot lintian)

case "${1:-run}" in
  run) want=("${run_pkgs[@]}") ;;
  test) want=("${test_pkgs[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -q >&2
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
