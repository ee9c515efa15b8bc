"""What the side-by-side benches share: starting each tool's server on loopback, running a
client, and the CPU time a process spent."""
import os
import socket
import subprocess
import time


def reap(proc):
    """Waits for proc; the CPU seconds it spent (wait4 gives them however short-lived it was)."""
    _, _, rusage = os.wait4(proc.pid, 0)
    proc.returncode = 0
    return rusage.ru_utime + rusage.ru_stime


def run_client(argv):
    """Runs a client to its end; its stdout and CPU seconds."""
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    return out, reap(proc)


def start_tachyra(cli, *args):
    """tachyra-cli -s on a free loopback port; the process and its port."""
    srv = subprocess.Popen([cli, "-s", "-B", "127.0.0.1", "-p", "0", *args],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return srv, int(srv.stdout.readline().rsplit(" ", 1)[1])


def listening(port):
    with open("/proc/net/tcp") as f:
        for row in f.readlines()[1:]:
            cols = row.split()
            if int(cols[1].split(":")[1], 16) == port and cols[3] == "0A":
                return True
    return False


def start_iperf3(iperf):
    """iperf3 -s -1 (it leaves after one test) on a free loopback port, once it listens."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    srv = subprocess.Popen([iperf, "-s", "-1", "-B", "127.0.0.1", "-p", str(port)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if listening(port):
            break
        time.sleep(0.05)
    return srv, port
