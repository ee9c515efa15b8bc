#!/bin/sh
# A server under pressure, in one run: the connections held at the session cap (limit 1024),
# threads and RSS at 1,000 and 4,000 idle connections and after they leave, and the time
# the server takes to stop with 500 streaming sessions. Linux only.
# Usage: bench/reliability.sh   (BUILD=build dir, default build/default)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-"$ROOT/build/default"}
cmake --build "$BUILD" --target tachyra-cli tachyra-session-load >/dev/null
exec python3 "$ROOT/bench/load_bench.py" reliability "$BUILD/cli/tachyra-cli" \
  "$BUILD/bench/tachyra-session-load"
