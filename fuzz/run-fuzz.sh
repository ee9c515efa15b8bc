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
# The fuzzed code never loads a built-in text: an empty table stands in for the one the
# real build generates from resources/.
cat > "$OUT/empty_embedded_texts.cpp" <<'CPP'
#include "server/embedded_texts.h"
extern const EMBEDDED_TEXT g_embeddedTexts[] = {{0, nullptr, 0}};
extern const size_t g_nEmbeddedTexts = 0;
CPP
"$CXX" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$ROOT" -o "$OUT/http_request_fuzz" \
  "$ROOT/fuzz/http_request_fuzz.cpp" \
  "$ROOT/server/http.cpp" "$ROOT/server/websocket.cpp" "$ROOT/server/mzbyte.cpp" \
  "$ROOT/server/sha1.cpp" "$ROOT/server/base64.cpp" "$ROOT/server/assets.cpp" \
  "$ROOT/server/assets_embedded.cpp" "$OUT/empty_embedded_texts.cpp" \
  "$ROOT/support/format.cpp" "$ROOT/support/process_paths.cpp" \
  "$ROOT/support/platform_posix.cpp" "$ROOT/support/socket_posix.cpp"

# New inputs go to the build tree's corpus; the committed seeds are only read.
exec "$OUT/http_request_fuzz" -max_total_time="$MAX_SECONDS" -timeout=10 -rss_limit_mb=2048 \
  -max_len=70000 -print_final_stats=1 -artifact_prefix="$OUT/crashes/" \
  "$OUT/corpus" "$ROOT/fuzz/corpus"
