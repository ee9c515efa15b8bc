"""UDP tests of tachyra-cli, tachyra-cli -s as the server in a second process.

Usage: udp_test.py PATH_TO_TACHYRA_CLI
The shaped case makes two network namespaces joined by a veth pair with a token bucket
(needs root); where it cannot, it says why it is skipped and the rest still runs.
"""
import json
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

UDP_KEYS = ["sent_datagrams", "received_datagrams", "lost_datagrams", "loss_percent",
            "out_of_order", "duplicates", "jitter_ms"]


class Server:
    """tachyra-cli -s --json-stream on a free port, optionally inside a namespace."""

    def __init__(self, cli, bind="127.0.0.1", prefix=(), db=()):
        self.proc = subprocess.Popen([*prefix, cli, "-s", "-B", bind, "-p", "0",
                                      "--json-stream", *db], stdout=subprocess.PIPE, text=True)
        first = json.loads(self.proc.stdout.readline())
        assert first["event"] == "listening", first
        self.port = first["port"]

    def stop(self):
        self.proc.send_signal(2)
        out, _ = self.proc.communicate(timeout=30)
        return [json.loads(line) for line in out.splitlines()]


def client(cli, port, *args, host="127.0.0.1", prefix=()):
    run = subprocess.run([*prefix, cli, "-c", host, "-p", str(port), "-u", *args],
                         capture_output=True, text=True, timeout=60)
    return run.returncode, run.stdout, run.stderr


def check_loopback(cli):
    """100 Mbit/s each way: under 2 % loss, figures in every interval, totals and the
    server's session_end."""
    db = ["--results-db", os.path.join(tempfile.mkdtemp(), "r.sqlite")]
    server = Server(cli, db=db)
    try:
        for direction in ([], ["--upload"]):
            rc, out, err = client(cli, server.port, "-b", "100M", "-t", "3", "-J",
                                  "--fail-loss", "2", *direction)
            assert rc == 0, err
            report = json.loads(out)
            assert report["verdict"] == {"passed": True, "failed": []}, report["verdict"]
            totals = report["totals"]["udp"]
            assert list(totals) == UDP_KEYS and all(list(i["udp"]) == UDP_KEYS
                                                    for i in report["intervals"]), report
            assert totals["received_datagrams"] > 20000 and totals["loss_percent"] < 2, totals
            moved = report["totals"]["send_bytes" if direction else "recv_bytes"]
            assert moved >= totals["received_datagrams"] * 1200, report["totals"]
            print("loopback %s: %s" % (direction or "download", totals))
    finally:
        lines = server.stop()
    ends = [e for e in lines if e["event"] == "session_end"]
    assert [e["mode"] for e in ends] == ["udp", "udp"], ends
    rows = json.loads(subprocess.run([cli, "results", "--json", *db], capture_output=True,
                                     text=True, timeout=30).stdout)["tests"]
    assert [(r["kind"], r["direction"]) for r in rows] == [("udp", "upload"), ("udp", "download")]
    assert rows[0]["recv_bytes"] == ends[1]["bytes"] and rows[1]["send_bytes"] == ends[0]["bytes"]
    assert all(list(e["udp"]) == UDP_KEYS and e["udp"]["received_datagrams"] > 20000
               for e in ends), ends


def control(port, upload=True):
    """A control connection of our own; the test id the server answers with."""
    conn = socket.create_connection(("127.0.0.1", port))
    conn.sendall(b"EST\x02" + struct.pack(">HBBIQQ", 1, 0 if upload else 1, 0, 1200,
                                          10_000_000, 0))
    answer = b""
    while len(answer) < 16:
        answer += conn.recv(16 - len(answer))
    assert answer[0] == 0, answer
    return conn, struct.unpack(">Q", answer[8:])[0]


def received_by_server(conn):
    """The received count of the server's next report."""
    record = b""
    while len(record) < 56:
        record += conn.recv(56 - len(record))
    assert record[0:1] == b"R", record
    return struct.unpack(">Q", record[16:24])[0]


def check_strangers(cli):
    """Datagrams without a control connection, or from another host than its peer, get no
    answer and are not counted; the control connection's own are."""
    server = Server(cli)
    try:
        conn, test_id = control(server.port)
        probe = lambda tid, seq: struct.pack(">QII", tid, seq, 0) + bytes(1184)
        stranger = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        stranger.bind(("127.0.0.2", 0))  # the same test id from another host
        unknown = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for seq in range(50):
            stranger.sendto(probe(test_id, seq), ("127.0.0.1", server.port))
            unknown.sendto(probe(test_id ^ 1, seq), ("127.0.0.1", server.port))
            unknown.sendto(b"EST\x01", ("127.0.0.1", server.port))
        for sock in (stranger, unknown):
            sock.settimeout(0.5)
            try:
                data = sock.recv(2048)
                raise AssertionError("the server answered a stranger: %r" % data[:32])
            except socket.timeout:
                pass
        time.sleep(0.3)
        assert received_by_server(conn) == 0
        own = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for seq in range(10):
            own.sendto(probe(test_id, seq), ("127.0.0.1", server.port))
        deadline = time.monotonic() + 5
        while received_by_server(conn) != 10:
            assert time.monotonic() < deadline, "the test's own datagrams were not counted"
        conn.close()
    finally:
        lines = server.stop()
    received = sum(e["recv_bytes"] for e in lines if e["event"] == "interval")
    assert received <= 10 * 1200, received  # the strangers' bytes are not counted
    print("strangers ignored, %d bytes counted" % received)


def check_no_server(cli):
    """No server: exit 1 with the reason, for a refused connect and for a peer that
    takes the connection but never answers."""
    free = socket.socket()
    free.bind(("127.0.0.1", 0))
    port = free.getsockname()[1]
    free.close()
    rc, _, err = client(cli, port, "-t", "2")
    assert rc == 1 and "refused" in err.lower(), (rc, err)
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(4)
    rc, _, err = client(cli, silent.getsockname()[1], "-t", "5", "--connect-timeout", "1")
    silent.close()
    assert rc == 1 and "did not answer" in err, (rc, err)
    rc, _, err = client(cli, port, "-l", "15")
    assert rc == 2 and "-l" in err, (rc, err)
    print("no server: %s" % err.strip())


def check_shaped(cli):
    """80 Mbit/s upload through a 50 Mbit/s token bucket: about 37.5 % lost."""
    tag = "tyu%d" % os.getpid()
    ns_c, ns_s = tag + "c", tag + "s"
    setup = [f"ip netns add {ns_c}", f"ip netns add {ns_s}",
             f"ip link add {tag}a netns {ns_c} type veth peer name {tag}b netns {ns_s}",
             f"ip -n {ns_c} addr add 10.201.7.1/24 dev {tag}a",
             f"ip -n {ns_s} addr add 10.201.7.2/24 dev {tag}b",
             f"ip -n {ns_c} link set {tag}a up", f"ip -n {ns_s} link set {tag}b up",
             f"ip -n {ns_c} link set lo up", f"ip -n {ns_s} link set lo up",
             f"tc -n {ns_c} qdisc add dev {tag}a root tbf rate 50mbit burst 32kb latency 5ms"]
    try:
        for step in setup:
            run = subprocess.run(step.split(), capture_output=True, text=True)
            if run.returncode != 0:
                print("shaped case skipped: %s: %s" % (step, run.stderr.strip()))
                return
        server = Server(cli, bind="10.201.7.2", prefix=("ip", "netns", "exec", ns_s))
        try:
            rc, out, err = client(cli, server.port, "--upload", "-b", "80M", "-t", "4", "-J",
                                  "--fail-loss", "5", host="10.201.7.2",
                                  prefix=("ip", "netns", "exec", ns_c))
        finally:
            server.stop()
        assert rc == 3 and "loss above 5.00 %" in err, (rc, err)
        assert json.loads(out)["verdict"] == {"passed": False, "failed": ["loss"]}, out
        totals = json.loads(out)["totals"]["udp"]
        print("shaped: %s" % totals)
        assert 25 <= totals["loss_percent"] <= 50, totals
    finally:
        for ns in (ns_c, ns_s):
            subprocess.run(["ip", "netns", "del", ns], capture_output=True)


if __name__ == "__main__":
    check_loopback(sys.argv[1])
    check_strangers(sys.argv[1])
    check_no_server(sys.argv[1])
    check_shaped(sys.argv[1])
