#!/bin/sh
# The WebSocket stream next to one raw download connection, on loopback, against a fresh
# tachyra-cli server. Usage: bench/websocket_stream.sh [SECONDS] (default 10)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-"$ROOT/build/default"}
SECS=${1:-10}
cmake --build "$BUILD" --target tachyra-cli tachyra-ws-bench >/dev/null

. "$(dirname "$0")/start_server.sh"
trap stop_server EXIT
start_server "$BUILD" || exit 1
"$BUILD/bench/tachyra-ws-bench" "$PORT" "$SECS"
