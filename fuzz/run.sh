#!/usr/bin/env bash
# Runs the fuzz targets for a bounded time on a seed corpus of the project's
# own fixtures (plus a few small real modules when libwine is installed).
#   fuzz/run.sh BUILD_DIR SECONDS
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
seconds=${2:-120}
here=$(cd "$(dirname "$0")/.." && pwd)
# The corpora live in memory where there is such a folder: the fuzzer adds a
# file for every new input it keeps.
tmp=/dev/shm
[ -d "$tmp" ] && [ -w "$tmp" ] || tmp=${TMPDIR:-/tmp}
corpus=$(mktemp -d -p "$tmp")
work=$(mktemp -d -p "$tmp")
trap 'rm -rf "$corpus" "$work"' EXIT

cp "$here"/tests/fixtures/*.dll "$here"/tests/fixtures/*.exe "$corpus"/ 2>/dev/null || true
# 16-bit NE modules: the project's own and Wine's bitmap fonts.
find /usr/share/wine/fonts -name '*.fon' -size -16k -print0 2>/dev/null | sort -z | head -z -n 8 | xargs -0 -r cp -t "$corpus"/
wine=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
if [ -d "$wine" ]; then
  # The smallest modules with resources keep the fuzzer fast.
  find "$wine" -name '*.dll' -size -48k -print0 | sort -z | head -z -n 40 | xargs -0 -r cp -t "$corpus"/
fi
echo "fuzz: $(ls "$corpus" | wc -l) seed files, ${seconds}s" >&2

# The module reader and writers get most of the time (in memory, then a
# shorter run into real files), the settings-file
# parser (seeded with the test stores) and the clip reader (seeded with the
# program's own clip) the rest.
clips=$(mktemp -d -p "$tmp")
stores=$(mktemp -d -p "$tmp")
trap 'rm -rf "$corpus" "$work" "$clips" "$stores"' EXIT
cp "$here"/resources/art/*.avi "$clips"/ 2>/dev/null || true
cp "$here"/tests/platform/store/data/*.reg "$stores"/ 2>/dev/null || true

status=0
run() {  # target seconds corpus [max_len]
  [ -x "$build/$1" ] || return 0
  ( cd "$work" && ASAN_OPTIONS=detect_leaks=1 "$build/$1" -max_total_time="$2" -timeout=10 \
      -rss_limit_mb=2048 -max_len="${4:-262144}" -print_final_stats=1 "$3" 2>&1 | tail -n 25; exit "${PIPESTATUS[0]}" ) \
    || status=1
}
fast=$(( seconds * 9 / 16 )) files=$(( seconds * 2 / 16 )) stores_time=$(( seconds * 2 / 16 ))
# Inputs up to 64 KB hold every seed; the real-file run below keeps the larger ones.
run fuzz_extract "$fast" "$corpus" 65536
run fuzz_extract_files "$files" "$corpus"
run fuzz_regfile "$stores_time" "$stores" 65536
run fuzz_aviclip $(( seconds - fast - files - stores_time )) "$clips"

if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* >/dev/null 2>&1; then
  echo "fuzz: faults found:" >&2
  ls "$work" >&2
  mkdir -p "$here/build-fuzz-findings" && cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* "$here/build-fuzz-findings/" 2>/dev/null || true
  exit 1
fi
exit "$status"
