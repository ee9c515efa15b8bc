#!/bin/sh
# The WebSocket stream next to one raw download connection, on loopback, against a fresh
# tachyra-cli server. Usage: bench/websocket_stream.sh [SECONDS] (default 10)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-"$ROOT/build/default"}
SECS=${1:-10}
cmake --build "$BUILD" --target tachyra-cli tachyra-ws-bench >/dev/null

LOG=$(mktemp)
"$BUILD/cli/tachyra-cli" -s -B 127.0.0.1 -p 0 >"$LOG" 2>&1 &
SERVER=$!
trap 'kill -INT $SERVER 2>/dev/null || true; wait $SERVER 2>/dev/null || true; rm -f "$LOG"' EXIT
PORT=""
for _ in $(seq 1 300); do
  PORT=$(sed -n 's/^Tachyra server listening on port \([0-9]*\)$/\1/p' "$LOG")
  [ -n "$PORT" ] && break
  kill -0 $SERVER 2>/dev/null || { cat "$LOG" >&2; exit 1; }
  sleep 0.1
done
[ -n "$PORT" ] || { echo "the server did not start" >&2; exit 1; }
"$BUILD/bench/tachyra-ws-bench" "$PORT" "$SECS"
