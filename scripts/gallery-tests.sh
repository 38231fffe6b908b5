#!/usr/bin/env bash
# The PNG images and the gallery page as a user meets them: the batch command
# with --png --gallery over the test fixtures and Wine's modules, every PNG
# compared with an independent decoder of the file it came from, the page
# checked as HTML and opened in headless Chromium; again without --png, where
# the page shows the .bmp, .ico and .cur files themselves.
#   scripts/gallery-tests.sh BUILD_DIR
# LOOMVALE_SCREENSHOT_DIR: where to put the screenshot of the page.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wine=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
modules=("$here/tests/fixtures/bitmaps.dll" "$here/tests/fixtures/kinds.dll" "$here/tests/fixtures/kinds16.exe" "$wine")

failed=0
check() {  # name, command...
  local name=$1
  shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; failed=$((failed + 1)); fi
}
# The number of resources the batch command says its page shows.
items() { sed -n 's/^Gallery page: .* (\([0-9]*\) resources\{0,1\})$/\1/p' "$1"; }
# Valid HTML: tidy's only remarks may be the two image attributes it predates.
valid_html() {
  local said
  said=$(tidy -q -e "$1" 2>&1 | grep -v -e 'proprietary attribute "loading"' -e 'proprietary attribute "decoding"' || true)
  [ -z "$said" ] || { echo "$said" | head -20; return 1; }
}

for png in yes no; do
  dest=$work/dest-$png
  flags=(--gallery --quiet)
  [ $png = yes ] && flags+=(--png)
  echo "== loomvale-extract ${flags[*]}"
  set +e
  "$build/loomvale-extract" "${flags[@]}" --dest "$dest" "${modules[@]}" >"$work/out" 2>"$work/err"
  rc=$?
  set -e
  cat "$work/out" "$work/err"
  check "extraction ($png PNG) exits 0" test "$rc" -eq 0
  check "the page is valid HTML" valid_html "$dest/index.html"
  [ $png = yes ] && check "every PNG has the pixels of its image" /usr/bin/python3 "$here/tests/gallery/compare_png.py" "$dest"
  shot=()
  [ $png = yes ] && [ -n "${LOOMVALE_SCREENSHOT_DIR:-}" ] && shot=("$LOOMVALE_SCREENSHOT_DIR/gallery-chromium.png")
  check "Chromium shows the page" /usr/bin/python3 "$here/tests/gallery/browser.py" "$dest/index.html" "$(items "$work/out")" "${shot[@]}"
done
echo "gallery: checks failed $failed"
[ "$failed" -eq 0 ]
