#!/bin/sh
# Loopback throughput with the results history on and off in the same run: tachyra-cli's
# download and upload (10 connections, server and client as separate processes), rounds
# taken in turn, the history kept in a file of a fresh folder or not kept at all
# (--no-results). Prints the MiB/s of each and the ratio on/off (goal: at least 0.98).
# Usage: bench/history.sh [SECONDS] [BUILD_DIR] [ROUNDS]   (defaults 5, build/default, 3)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/bench/bench_env.sh"
SECS=${1:-5}
ROUNDS=${3:-3}

exec python3 - "$CLI" "$SECS" "$ROUNDS" <<'PY'
import json, os, signal, statistics, subprocess, sys, tempfile
from bench_kit import start_tachyra

cli, secs, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
MiB = float(1 << 20)

def tachyra(upload, history_args):
    srv, port = start_tachyra(cli, *history_args)
    argv = [cli, "-c", "127.0.0.1", "-p", str(port), "-P", "10", "-t", str(secs), "-J"]
    out = subprocess.run(argv + (["--upload"] if upload else []), capture_output=True,
                         text=True, check=True).stdout
    srv.send_signal(signal.SIGINT)
    srv.wait(timeout=30)
    totals = json.loads(out)["totals"]
    return totals["send_bytes" if upload else "recv_bytes"] / MiB / totals["seconds"]

with tempfile.TemporaryDirectory(prefix="tachyra-history-bench-") as tmp:
    db = os.path.join(tmp, "results.sqlite")
    ratios = []
    for upload in (False, True):
        rates = {"on": [], "off": []}
        for _ in range(rounds):
            rates["on"].append(tachyra(upload, ["--results-db", db]))
            rates["off"].append(tachyra(upload, ["--no-results"]))
        on, off = statistics.median(rates["on"]), statistics.median(rates["off"])
        ratios.append(on / off)
        print("%-8s history on %8.0f MiB/s   off %8.0f MiB/s   on/off %.3f"
              % ("upload" if upload else "download", on, off, on / off))
    print("on/off, both ways: %.3f (goal >= 0.98)" % statistics.mean(ratios))
PY
