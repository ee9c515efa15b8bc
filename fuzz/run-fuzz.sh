#!/bin/sh
# Builds the request fuzzer with clang (libFuzzer, address and undefined-behaviour
# sanitizers) and runs it for a bounded time from the seed corpus.
# Usage: fuzz/run-fuzz.sh [BUILD_DIR] [SECONDS]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-"$ROOT/build/fuzz"}
MAX_SECONDS=${2:-30}
CXX=${FUZZ_CXX:-}
if [ -z "$CXX" ]; then
  for c in clang++ clang++-14 clang++-15 clang++-16; do
    command -v "$c" >/dev/null 2>&1 && CXX=$c && break
  done
fi
[ -n "$CXX" ] || { echo "clang++ not found: run scripts/install-deps.sh test" >&2; exit 1; }

mkdir -p "$OUT/corpus" "$OUT/crashes"
# A build tree of its own: every library the target links is instrumented too.
# clang 14 cannot emit the function sanitizer's checks for coroutine frames.
FLAGS="-g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=function -fno-sanitize-recover=all"
cmake -S "$ROOT" -B "$OUT" -G Ninja -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$FLAGS" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DTACHYRA_BUILD_FUZZ=ON -DTACHYRA_BUILD_TESTS=OFF -DTACHYRA_BUILD_CLI=OFF >/dev/null
cmake --build "$OUT" --target http_request_fuzz >/dev/null

# New inputs go to the build tree's corpus; the committed seeds are only read.
exec "$OUT/fuzz/http_request_fuzz" -max_total_time="$MAX_SECONDS" -timeout=10 -rss_limit_mb=2048 \
  -max_len=70000 -print_final_stats=1 -artifact_prefix="$OUT/crashes/" \
  "$OUT/corpus" "$ROOT/fuzz/corpus"
