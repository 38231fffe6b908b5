#!/usr/bin/env bash
# Runs the fuzz targets for a bounded time on a seed corpus of the project's
# own fixtures (plus a few small real modules when libwine is installed).
#   fuzz/run.sh BUILD_DIR SECONDS
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
seconds=${2:-120}
here=$(cd "$(dirname "$0")/.." && pwd)
corpus=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$corpus" "$work"' EXIT

cp "$here"/tests/fixtures/*.dll "$corpus"/ 2>/dev/null || true
wine=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
if [ -d "$wine" ]; then
  # The smallest modules with resources keep the fuzzer fast.
  find "$wine" -name '*.dll' -size -48k -print0 | sort -z | head -z -n 40 | xargs -0 -r cp -t "$corpus"/
fi
echo "fuzz: $(ls "$corpus" | wc -l) seed files, ${seconds}s" >&2

cd "$work"
ASAN_OPTIONS=detect_leaks=1 "$build"/fuzz_extract -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=2048 -max_len=262144 -print_final_stats=1 "$corpus" 2>&1 | tail -n 25
status=${PIPESTATUS[0]}
if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* >/dev/null 2>&1; then
  echo "fuzz: faults found:" >&2
  ls "$work" >&2
  mkdir -p "$here/build-fuzz-findings" && cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* "$here/build-fuzz-findings/" 2>/dev/null || true
  exit 1
fi
exit "$status"
