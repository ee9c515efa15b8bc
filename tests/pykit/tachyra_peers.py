"""What the Python tests share: tachyra-cli as server and as client, and network namespaces
of their own to run them in (where none can be made, each says why and yields nothing)."""
import contextlib
import json
import os
import signal
import subprocess
import sys
import threading
import time


class Server:
    """tachyra-cli -s on a free port (bind None: every address), with --json-stream unless
    stream is False; .lines holds what it has printed so far. Its stop(), or the end of a
    with block, leaves its stderr in .stderr and, with --json-stream, its lines in .events."""

    def __init__(self, cli, *args, bind="127.0.0.1", prefix=(), stream=True):
        argv = [*prefix, cli, "-s", "-p", "0", *args, *(["--json-stream"] if stream else []),
                *([] if bind is None else ["-B", bind])]
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     encoding="utf-8")
        self.lines, self.stream = [], stream
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()
        if stream:
            self.listening = json.loads(self.wait(lambda line: True, "listening line"))
            assert self.listening["event"] == "listening", self.listening
            self.port = self.listening["port"]
        else:
            self.port = int(self.wait(lambda l: "listening on port" in l, "port").split()[-1])

    def read(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip("\n"))

    def wait(self, pred, what, seen=0):
        """The first line from seen on that passes pred, within 20 s."""
        found = lambda: [line for line in self.lines[seen:] if pred(line)]
        return wait_for(found, lambda: "%s in %r" % (what, self.lines))[0]

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop()

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        assert self.proc.wait(timeout=30) == 0, self.proc.returncode
        self.reader.join()
        self.stderr = self.proc.stderr.read()
        self.events = [json.loads(line) for line in self.lines[1:]] if self.stream else None


def wait_for(predicate, what):
    """predicate()'s first true value within 20 s; what (or what()) names it otherwise."""
    for _ in range(400):
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("no " + (what() if callable(what) else what))


def client(cli, port, *args, host="127.0.0.1", prefix=(), status=0):
    """One tachyra-cli client run that must end with this exit status: its stdout and stderr."""
    run = subprocess.run([*prefix, cli, "-c", host, "-p", str(port), *args],
                         capture_output=True, text=True, timeout=90)
    assert run.returncode == status, (args, run.returncode, run.stderr)
    return run.stdout, run.stderr


def run_shaped(tbf):
    """This script again, with --inside after its arguments, in a network namespace of its
    own whose lo passes a token bucket (tc's tbf with these settings): its stdout."""
    shape = "ip link set lo up mtu 1500 && tc qdisc replace dev lo root tbf " + tbf
    probe = subprocess.run(["unshare", "--net", "sh", "-c", shape], capture_output=True, text=True)
    if probe.returncode != 0:
        print("shaped case skipped: no network namespace here (%s)" % probe.stderr.strip())
        return None
    inner = subprocess.run(["unshare", "--net", "sh", "-c", shape + ' && exec "$@"', "sh",
                            sys.executable, *sys.argv, "--inside"],
                           capture_output=True, text=True, timeout=150)
    assert inner.returncode == 0, inner.stderr
    return inner.stdout


@contextlib.contextmanager
def veth_namespaces(tbf=None):
    """Two network namespaces joined by a veth pair, lo up in both: 10.91.0.1 and fd00:91::1
    in the first, .2 and ::2 in the second; tbf: a token bucket on the first one's end.
    Yields the `ip netns exec` prefix of each."""
    tag = "ty%d" % os.getpid()
    names, ends = (tag + "a", tag + "b"), (tag + "x", tag + "y")
    steps = ["ip netns add %s" % names[0], "ip netns add %s" % names[1],
             "ip link add %s netns %s type veth peer name %s netns %s"
             % (ends[0], names[0], ends[1], names[1])]
    for n, (name, end) in enumerate(zip(names, ends), 1):
        steps += ["ip -n %s link set lo up" % name,
                  "ip -n %s addr add 10.91.0.%d/24 dev %s" % (name, n, end),
                  "ip -n %s -6 addr add fd00:91::%d/64 dev %s nodad" % (name, n, end),
                  "ip -n %s link set %s up" % (name, end)]  # which adds an fe80:: address
    if tbf:
        steps.append("tc -n %s qdisc add dev %s root tbf %s" % (names[0], ends[0], tbf))
    try:
        for step in steps:
            run = subprocess.run(["sh", "-c", step], capture_output=True, text=True)
            if run.returncode != 0:
                print("namespace case skipped: %s: %s" % (step, run.stderr.strip()))
                yield None
                return
        yield [("ip", "netns", "exec", name) for name in names]
    finally:
        for name in names:
            subprocess.run(["ip", "netns", "del", name], capture_output=True)


GET = """import http.client, json, sys
conn = http.client.HTTPConnection(sys.argv[1], int(sys.argv[2]), timeout=20)
conn.request("GET", sys.argv[3], headers=json.loads(sys.argv[4]))
answer = conn.getresponse()
print(answer.status, answer.read().decode())"""


def get_from(prefix, host, port, path, headers=None):
    """A GET sent from the network namespace that prefix runs commands in: status and body."""
    out = subprocess.run([*prefix, sys.executable, "-c", GET, host, str(port), path,
                          json.dumps(headers or {})], capture_output=True, text=True,
                         check=True, timeout=60).stdout
    status, body = out.split(" ", 1)
    return int(status), body

