#!/bin/sh
# N concurrent download sessions (default 19,000) for SECONDS (default 10) against one
# tachyra-cli server started under the usual soft descriptor limit (prlimit 1024:20000):
# how many got data, the server's peak threads, RSS and descriptors, the figures after
# they leave, and the time to stop with all of them open. Linux only.
# Usage: bench/sessions.sh [N] [SECONDS]   (BUILD=build dir, default build/default)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-"$ROOT/build/default"}
cmake --build "$BUILD" --target tachyra-cli tachyra-session-load >/dev/null
exec python3 "$ROOT/bench/load_bench.py" sessions "$BUILD/cli/tachyra-cli" \
  "$BUILD/bench/tachyra-session-load" "${1:-19000}" "${2:-10}"
