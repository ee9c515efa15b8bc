#!/bin/sh
# Loopback throughput, side by side in one run: Tachyra's 10-connection download (server
# and client as separate processes) against iperf3 with 10 streams and 8 KiB writes, and
# iperf3 with its default writes. Prints MiB/s and the ratios.
# Usage: bench/loopback.sh [SECONDS] [BUILD_DIR]
set -eu
SECONDS_PER_RUN=${1:-10}
BUILD=${2:-build/default}
CLI="$BUILD/cli/tachyra-cli"
cd "$(dirname "$0")/.."
[ -x "$CLI" ] || { echo "build first: $CLI is missing" >&2; exit 1; }
command -v iperf3 >/dev/null || { echo "iperf3 is missing (apt-get install iperf3)" >&2; exit 1; }

TMP=$(mktemp -d)
cleanup() {
  for p in $SRV $IPERF; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$TMP"
}
SRV=; IPERF=
trap cleanup EXIT INT TERM

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Tachyra
"$CLI" -s -B 127.0.0.1 -p 0 >"$TMP/srv.log" 2>&1 &
SRV=$!
for _ in $(seq 100); do grep -q 'listening on port' "$TMP/srv.log" && break; sleep 0.1; done
TPORT=$(sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$TMP/srv.log")
"$CLI" -c 127.0.0.1 -p "$TPORT" -P 10 -t "$SECONDS_PER_RUN" -J >"$TMP/tachyra.json"
kill -INT "$SRV"; wait "$SRV" || true; SRV=

# iperf3, one server for both client runs
IPORT=$(free_port)
iperf3 -s -B 127.0.0.1 -p "$IPORT" >/dev/null 2>&1 &
IPERF=$!
for _ in $(seq 50); do
  python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()' "$IPORT" 2>/dev/null && break
  sleep 0.1
done
iperf3 -c 127.0.0.1 -p "$IPORT" -P 10 -l 8K -R -t "$SECONDS_PER_RUN" -J >"$TMP/iperf8k.json"
iperf3 -c 127.0.0.1 -p "$IPORT" -P 10 -R -t "$SECONDS_PER_RUN" -J >"$TMP/iperfdef.json"

python3 - "$TMP" <<'PY'
import json, sys
d = sys.argv[1]
t = json.load(open(d + "/tachyra.json"))["totals"]["recv_MBps"]
def iperf(name):
    j = json.load(open(d + "/" + name))
    return j["end"]["sum_received"]["bits_per_second"] / 8 / 1048576
i8, idef = iperf("iperf8k.json"), iperf("iperfdef.json")
print("Tachyra download, 10 connections, 8 KiB blocks : %9.1f MiB/s" % t)
print("iperf3 -P 10 -l 8K -R                          : %9.1f MiB/s" % i8)
print("iperf3 -P 10 -R (default 128 KiB writes)       : %9.1f MiB/s" % idef)
print("ratio Tachyra / iperf3 8 KiB                   : %9.2f" % (t / i8))
print("ratio Tachyra / iperf3 default                 : %9.2f" % (t / idef))
PY
