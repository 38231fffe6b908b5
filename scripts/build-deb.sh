#!/usr/bin/env bash
# Builds the Debian package with dpkg-buildpackage from a copy of the source
# tree (it writes its results next to the tree it builds) and checks it with
# lintian. The package lands in out/:
#   bash scripts/build-deb.sh
#   sudo apt-get install ./out/loomvale_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Tracked files and new ones not ignored: what a clean clone plus the work in
# progress holds, without build folders.
mkdir "$work/loomvale"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$work/loomvale"
else
  tar --exclude=./build --exclude='./build-*' --exclude=./out -cf - . | tar -xf - -C "$work/loomvale"
fi

start=$SECONDS
(cd "$work/loomvale" && dpkg-buildpackage -us -uc -b -J"$(nproc)" >"$work/build.log" 2>&1) || {
  tail -n 20 "$work/build.log" >&2
  echo "build-deb: dpkg-buildpackage failed" >&2
  exit 1
}
echo "build-deb: dpkg-buildpackage took $((SECONDS - start)) s" >&2
dpkg -c "$work"/loomvale_*.deb >&2

deb=$(ls "$work"/loomvale_*.deb)
echo "== lintian $(basename "$deb")" >&2
lintian --fail-on error,warning "$deb" >&2
mkdir -p out
cp "$deb" out/
echo "out/$(basename "$deb")"
