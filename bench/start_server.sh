# Sourced by the benches: start_server BUILD_DIR starts "tachyra-cli -s" on a free loopback
# port in the background and sets SERVER (its pid), PORT and LOG; stop_server ends it.
start_server() {
  LOG=$(mktemp)
  "$1/cli/tachyra-cli" -s -B 127.0.0.1 -p 0 >"$LOG" 2>&1 &
  SERVER=$!
  PORT=""
  for _ in $(seq 1 300); do
    PORT=$(sed -n 's/^Tachyra server listening on port \([0-9]*\)$/\1/p' "$LOG")
    [ -n "$PORT" ] && return 0
    kill -0 "$SERVER" 2>/dev/null || { cat "$LOG" >&2; return 1; }
    sleep 0.1
  done
  echo "the server did not start" >&2
  return 1
}

stop_server() {
  kill -INT "$SERVER" 2>/dev/null || true
  wait "$SERVER" 2>/dev/null || true
  rm -f "$LOG"
}
