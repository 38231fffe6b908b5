#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a desktop and a
# user get from it: the menu entry, the metainfo, the icons, the manual pages,
# the bash completion, and both programs working from the prefix, away from
# the source tree.
#   bash scripts/check-install.sh [BUILD_DIR]     (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${1:-build}
id=com.brackwater.Loomvale
sizes=(16 32 48 64 128 256)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
status=0
fail() {
  echo "check-install: $*" >&2
  status=1
}

cmake --install "$build" --prefix "$prefix" >/dev/null

# -- The files, where a desktop looks for them.
expected=(bin/loomvale bin/loomvale-extract "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
  share/man/man1/loomvale.1 share/man/man1/loomvale-extract.1 share/bash-completion/completions/loomvale-extract
  "share/icons/hicolor/scalable/apps/$id.svg")
for s in "${sizes[@]}"; do expected+=("share/icons/hicolor/${s}x$s/apps/$id.png"); done
for f in "${expected[@]}"; do [ -s "$prefix/$f" ] || fail "not installed: $f"; done
for s in "${sizes[@]}"; do
  got=$(identify -format '%wx%h %[channels]' "$prefix/share/icons/hicolor/${s}x$s/apps/$id.png" 2>&1) || true
  [[ $got == "${s}x$s srgba"* ]] || fail "icon ${s}x$s: identify says '$got'"
done
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "desktop entry does not name the icon $id"
grep -qx "Exec=loomvale" "$prefix/share/applications/$id.desktop" || fail "desktop entry does not start loomvale"

# -- Validators.
echo "== desktop-file-validate"
desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
for page in loomvale loomvale-extract; do
  echo "== man -l $page.1"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done

# -- Every option of --help is in the manual page and in the completion.
options=$("$prefix/bin/loomvale-extract" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p')
[ -n "$options" ] || fail "--help lists no options"
completions=$(bash -c '. /usr/share/bash-completion/bash_completion; . "$1"
  COMP_WORDS=(loomvale-extract --); COMP_CWORD=1; COMP_LINE="loomvale-extract --"; COMP_POINT=${#COMP_LINE}
  _loomvale_extract; printf "%s\n" "${COMPREPLY[@]}"' _ "$prefix/share/bash-completion/completions/loomvale-extract")
for o in $options; do
  grep -qF -- "${o//-/\\-}" "$prefix/share/man/man1/loomvale-extract.1" || fail "loomvale-extract.1 does not describe $o"
  grep -qx -- "$o" <<<"$completions" || fail "completion does not offer $o"
done
# Completion rows: the words typed | what must be offered. The kinds come
# from the --types line of --help.
kinds=$("$prefix/bin/loomvale-extract" --help | sed -n 's/^  --types.*kinds: \([a-z,]*\).*/\1/p' | tr , ' ')
[ -n "$kinds" ] || fail "--help lists no kinds for --types"
while IFS='|' read -r line want; do
  want=${want//@kinds@/$kinds}
  got=$(bash -c '. /usr/share/bash-completion/bash_completion; . "$1"; read -ra COMP_WORDS <<<"$2"
    [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=$2; COMP_POINT=${#2}
    _loomvale_extract 2>/dev/null; echo "${COMPREPLY[*]}"' _ "$prefix/share/bash-completion/completions/loomvale-extract" "$line")
  [ "$got" = "$want" ] || fail "completion of '$line': got '$got', want '$want'"
done <<'ROWS'
loomvale-extract --types |@kinds@
loomvale-extract --types ani|anicursor
loomvale-extract --types bitmap,c|bitmap,cursor
loomvale-extract --types icon,video,h|icon,video,html
loomvale-extract --no|--no-subfolders
loomvale-extract --mask |
ROWS

# -- The installed batch command, run from outside the source tree.
mkdir "$tmp/run"
(cd "$tmp/run" && "$prefix/bin/loomvale-extract" --quiet --dest out "$src/tests/fixtures/kinds.dll" >counts.txt) ||
  fail "installed loomvale-extract failed on kinds.dll"
# wrestool lists the fixture's resources independently of our reader.
listing=$(wrestool -l "$src/tests/fixtures/kinds.dll")
# Rows: folder | extension | wrestool type | whether every entry is written.
while IFS='|' read -r folder ext type whole; do
  dir="$tmp/run/out/$folder"
  [ -f "$dir/__index.txt" ] || { fail "$folder: no __index.txt"; continue; }
  files=$(find "$dir" -type f ! -name __index.txt | wc -l)
  lines=$(wc -l <"$dir/__index.txt")
  listed=$(grep -c -- "--type=$type " <<<"$listing" || true)
  [ "$files" -eq "$lines" ] || fail "$folder: $files files but $lines index lines"
  [ "$files" -gt 0 ] || fail "$folder: nothing written"
  if [ "$whole" = yes ]; then
    [ "$files" -eq "$listed" ] || fail "$folder: $files files, wrestool lists $listed"
  else
    [ "$files" -le "$listed" ] || fail "$folder: $files files, more than the $listed wrestool lists"
  fi
  if [ -n "$ext" ]; then
    for f in "$dir"/*"$ext"; do
      identify "$f" >/dev/null 2>&1 || fail "$folder: identify cannot read $(basename "$f")"
    done
  fi
done <<'ROWS'
Bitmaps|.bmp|2|no
Icons|.ico|14|yes
Cursors|.cur|12|no
Animated Cursors||21|yes
Videos||'AVI'|yes
Web pages||23|yes
ROWS
[ "$(wc -l <"$tmp/run/counts.txt")" -eq 6 ] || fail "counts on standard output: $(cat "$tmp/run/counts.txt")"

# -- The installed window program starts from the prefix (its pictures and
# clip are compiled in) and stays up until it is stopped.
set +e
(cd "$tmp/run" && HOME=$tmp/run LOOMVALE_REGISTRY=$tmp/run/registry QT_QPA_PLATFORM=offscreen \
  timeout 5 "$prefix/bin/loomvale" >"$tmp/gui.log" 2>&1)
rc=$?
set -e
[ "$rc" -eq 124 ] || fail "installed loomvale ended with status $rc: $(cat "$tmp/gui.log")"

# Without any display it says so in one line and ends with status 1: no
# abort, no core file. Rows: what the environment holds | why.
while IFS='|' read -r display why; do
  set +e
  if [ -n "$display" ]; then env=(DISPLAY="$display"); else env=(-u DISPLAY); fi
  (cd "$tmp/run" && ulimit -c 0 && env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${env[@]}" HOME="$tmp/run" \
    LOOMVALE_REGISTRY="$tmp/run/registry" timeout 20 "$prefix/bin/loomvale" >"$tmp/gui.log" 2>&1)
  rc=$?
  set -e
  [ "$rc" -eq 1 ] && [ "$(wc -l <"$tmp/gui.log")" -eq 1 ] && grep -q 'loomvale-extract' "$tmp/gui.log" ||
    fail "loomvale with $why: status $rc, said: $(cat "$tmp/gui.log")"
done <<'ROWS'
|no DISPLAY nor WAYLAND_DISPLAY
:4711|a DISPLAY no X server answers
ROWS
version=$("$prefix/bin/loomvale-extract" --version) || fail "loomvale-extract --version failed"
[[ $version =~ ^loomvale-extract\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "loomvale-extract --version says '$version'"

if [ "$status" -eq 0 ]; then echo "check-install: all checks passed"; fi
exit "$status"
