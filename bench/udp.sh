#!/bin/sh
# The highest UDP rate with under 1 % loss over loopback, Tachyra against iperf3 side by
# side in one run: both send 1200-byte datagrams from the client to the server (Tachyra's
# --upload, iperf3's default), at rates that rise by half each step, each rate tried with
# both before the next. A tool is done once it loses 1 % or more, or receives less than
# 90 % of the rate asked (its sender cannot keep up). Prints each step's received rate,
# loss and the CPU seconds both processes (client and server) spent, then the highest
# received rate of each with under 1 % loss and their ratio.
# iperf3: as find_iperf3 in bench/bench_env.sh finds it.
# Usage: bench/udp.sh [SECONDS] [BUILD_DIR] [START_MBITS]   (defaults 3, build/default, 50)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/bench/bench_env.sh"
SECS=${1:-3}
START=${3:-50}
find_iperf3

exec python3 - "$CLI" "$IPERF" "$SECS" "$START" <<'PY'
import json, signal, sys
from bench_kit import reap, run_client, start_iperf3, start_tachyra

cli, iperf, secs, start = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])

def tachyra(mbits):
    srv, port = start_tachyra(cli)
    out, cpu_client = run_client([cli, "-c", "127.0.0.1", "-p", str(port), "-u", "--upload",
                                  "-b", "%gM" % mbits, "-l", "1200", "-t", str(secs), "-J"])
    srv.send_signal(signal.SIGINT)
    cpu_server = reap(srv)
    report = json.loads(out)
    udp, seconds = report["totals"]["udp"], report["totals"]["seconds"]
    return (udp["received_datagrams"] * 1200 * 8 / seconds / 1e6, udp["loss_percent"],
            cpu_client + cpu_server)

def iperf3(mbits):
    srv, port = start_iperf3(iperf)
    out, cpu_client = run_client([iperf, "-c", "127.0.0.1", "-p", str(port), "-u",
                                  "-b", "%gM" % mbits, "-l", "1200", "-t", str(secs), "-J"])
    cpu_server = reap(srv)
    end = json.loads(out)["end"]
    received = end.get("sum_received", end["sum"])
    return received["bits_per_second"] / 1e6, end["sum"]["lost_percent"], cpu_client + cpu_server

print("iperf3: %s" % iperf)
print("%10s  %-30s  %-30s" % ("Mbit/s", "Tachyra: recv Mbit/s, loss, CPU s",
                              "iperf3: recv Mbit/s, loss, CPU s"))
best = {"tachyra": None, "iperf3": None}
alive = {"tachyra": True, "iperf3": True}
mbits = start
for _ in range(14):
    row = []
    for name, fn in (("tachyra", tachyra), ("iperf3", iperf3)):
        if not alive[name]:
            row.append("%-30s" % "-")
            continue
        rate, loss, cpu = fn(mbits)
        row.append("%-30s" % ("%8.1f %6.2f %% %6.2f s" % (rate, loss, cpu)))
        if loss < 1 and (best[name] is None or rate > best[name][1]):
            best[name] = (mbits, rate, loss, cpu)
        if loss >= 1 or rate < 0.9 * mbits:
            alive[name] = False
    print("%10g  %s  %s" % (mbits, row[0], row[1]), flush=True)
    if not any(alive.values()):
        break
    mbits = round(mbits * 1.5)
for name in best:
    b = best[name]
    print("%s: %s" % (name, "nothing under 1 % loss" if b is None else
                      "best %g Mbit/s asked, %.1f Mbit/s received, %.2f %% lost, %.2f CPU s"
                      % b))
if best["tachyra"] and best["iperf3"]:
    print("ratio Tachyra/iperf3 (received): %.2f" % (best["tachyra"][1] / best["iperf3"][1]))
PY
