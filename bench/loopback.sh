#!/bin/sh
# Loopback throughput side by side in one run, three rounds (10 connections each):
# Tachyra's download and upload (server and client as separate processes) against iperf3
# with 8 KiB writes and with its default writes, both ways. Prints MiB/s,
# the ratios and the CPU seconds both processes (client and server) spent per GiB moved.
# iperf3: as find_iperf3 in bench/bench_env.sh finds it; the bench says which.
# Usage: bench/loopback.sh [SECONDS] [BUILD_DIR] [ROUNDS]   (defaults 5, build/default, 3)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/bench/bench_env.sh"
SECS=${1:-5}
ROUNDS=${3:-3}
find_iperf3

exec python3 - "$CLI" "$IPERF" "$SECS" "$ROUNDS" <<'PY'
import json, signal, statistics, subprocess, sys
from bench_kit import reap, run_client, start_iperf3, start_tachyra

cli, iperf, secs, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
GiB, MiB = float(1 << 30), float(1 << 20)

def tachyra(upload):
    srv, port = start_tachyra(cli)
    argv = [cli, "-c", "127.0.0.1", "-p", str(port), "-P", "10", "-t", str(secs), "-J"]
    out, cpu_client = run_client(argv + (["--upload"] if upload else []))
    srv.send_signal(signal.SIGINT)
    cpu_server = reap(srv)
    totals = json.loads(out)["totals"]
    nbytes = totals["send_bytes" if upload else "recv_bytes"]
    return nbytes / MiB / totals["seconds"], (cpu_client + cpu_server) / (nbytes / GiB)

def iperf3(extra):
    srv, port = start_iperf3(iperf)
    argv = [iperf, "-c", "127.0.0.1", "-p", str(port), "-P", "10", "-t", str(secs), "-J"] + extra
    out, cpu_client = run_client(argv)
    cpu_server = reap(srv)  # -1: the server leaves after one test
    received = json.loads(out)["end"]["sum_received"]
    nbytes = received["bytes"]
    return received["bits_per_second"] / 8 / MiB, (cpu_client + cpu_server) / (nbytes / GiB)

runs = [
    ("Tachyra download", lambda: tachyra(False)),
    ("Tachyra upload", lambda: tachyra(True)),
    ("iperf3 -P10 -l8K -R", lambda: iperf3(["-l", "8K", "-R"])),
    ("iperf3 -P10 -l8K", lambda: iperf3(["-l", "8K"])),
    ("iperf3 -P10 -R (default writes)", lambda: iperf3(["-R"])),
    ("iperf3 -P10 (default writes)", lambda: iperf3([])),
]
version = subprocess.run([iperf, "--version"], capture_output=True, text=True).stdout.split("\n")[0]
print("iperf3: %s (%s)" % (iperf, version.strip()))
print("%d rounds of %d s, 10 connections, loopback; MiB/s, CPU s/GiB (client + server)" %
      (rounds, secs))
rate = {name: [] for name, _ in runs}
cpu = {name: [] for name, _ in runs}
for r in range(rounds):
    for name, fn in runs:
        mibps, cpu_per_gib = fn()
        rate[name].append(mibps)
        cpu[name].append(cpu_per_gib)

width = max(len(name) for name, _ in runs)
head = "".join("%11s" % ("round %d" % (r + 1)) for r in range(rounds))
print("\n%-*s%s%11s%14s" % (width, "MiB/s", head, "median", "CPU s/GiB"))
for name, _ in runs:
    print("%-*s%s%11.0f%14.3f" % (width, name, "".join("%11.0f" % v for v in rate[name]),
                                  statistics.median(rate[name]), statistics.median(cpu[name])))

print("\n%-*s%s%11s" % (width, "ratio", head, "median"))
for label, a, b in [
    ("download / iperf3 -l8K -R", "Tachyra download", "iperf3 -P10 -l8K -R"),
    ("upload / iperf3 -l8K", "Tachyra upload", "iperf3 -P10 -l8K"),
    ("download / iperf3 -R default", "Tachyra download", "iperf3 -P10 -R (default writes)"),
    ("upload / iperf3 default", "Tachyra upload", "iperf3 -P10 (default writes)"),
]:
    ratios = [x / y for x, y in zip(rate[a], rate[b])]
    print("%-*s%s%11.2f" % (width, label, "".join("%11.2f" % v for v in ratios),
                            statistics.median(ratios)))
PY
