#!/bin/sh
# Loopback throughput side by side in one run, three rounds (10 connections each):
# Tachyra's download and upload (server and client as separate processes) against iperf3
# with 8 KiB writes and with its default writes, both ways. Prints MiB/s,
# the ratios and the CPU seconds both processes (client and server) spent per GiB moved.
# Uses the static iperf3 3.21 from the project's parent directory
# (../shared/tools/iperf3-3.21/iperf3) when present, else the system's iperf3, and says which.
# Usage: bench/loopback.sh [SECONDS] [BUILD_DIR] [ROUNDS]   (defaults 5, build/default, 3)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECS=${1:-5}
BUILD=${2:-"$ROOT/build/default"}
ROUNDS=${3:-3}
CLI="$BUILD/cli/tachyra-cli"
[ -x "$CLI" ] || { echo "build first: $CLI is missing" >&2; exit 1; }

IPERF="$ROOT/../shared/tools/iperf3-3.21/iperf3"
if [ -x "$IPERF" ]; then
  IPERF=$(cd "$(dirname "$IPERF")" && pwd)/iperf3
else
  IPERF=$(command -v iperf3 || true)
  [ -n "$IPERF" ] || { echo "no iperf3 (apt-get install iperf3)" >&2; exit 1; }
fi

exec python3 - "$CLI" "$IPERF" "$SECS" "$ROUNDS" <<'PY'
import json, os, signal, socket, statistics, subprocess, sys, time

cli, iperf, secs, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
GiB, MiB = float(1 << 30), float(1 << 20)

def cpu_of(rusage):
    return rusage.ru_utime + rusage.ru_stime

def reap(proc):
    # wait4 gives the child's own CPU time, however short-lived it was.
    _, _, rusage = os.wait4(proc.pid, 0)
    proc.returncode = 0
    return cpu_of(rusage)

def run_client(argv):
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    return out, reap(proc)

def tachyra(upload):
    srv = subprocess.Popen([cli, "-s", "-B", "127.0.0.1", "-p", "0"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True)
    line = srv.stdout.readline()
    port = int(line.rsplit(" ", 1)[1])
    argv = [cli, "-c", "127.0.0.1", "-p", str(port), "-P", "10", "-t", str(secs), "-J"]
    out, cpu_client = run_client(argv + (["--upload"] if upload else []))
    srv.send_signal(signal.SIGINT)
    cpu_server = reap(srv)
    totals = json.loads(out)["totals"]
    nbytes = totals["send_bytes" if upload else "recv_bytes"]
    return nbytes / MiB / totals["seconds"], (cpu_client + cpu_server) / (nbytes / GiB)

def listening(port):
    with open("/proc/net/tcp") as f:
        for row in f.readlines()[1:]:
            cols = row.split()
            if int(cols[1].split(":")[1], 16) == port and cols[3] == "0A":
                return True
    return False

def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port

def iperf3(extra):
    port = free_port()
    srv = subprocess.Popen([iperf, "-s", "-1", "-B", "127.0.0.1", "-p", str(port)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if listening(port):
            break
        time.sleep(0.05)
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
