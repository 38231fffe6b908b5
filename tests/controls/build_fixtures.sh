#!/usr/bin/env bash
# Rebuilds the version fixture DLLs from tests/fixtures/src/version*.rc with
# the mingw binutils (windres, ld). The built DLLs are committed, so tests do
# not need these tools.
set -euo pipefail
cd "$(dirname "$0")/../fixtures"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for rc in src/version*.rc; do
  name=$(basename "$rc" .rc)
  i686-w64-mingw32-windres --preprocessor=cat -O coff "$rc" -o "$tmp/$name.o"
  i686-w64-mingw32-ld --dll -e 0 -s --no-insert-timestamp -o "$name.dll" "$tmp/$name.o"
done
