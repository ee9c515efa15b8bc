"""The results history, its routes and /metrics, with tachyra-cli as server and as peer.

Usage: results_test.py PATH_TO_TACHYRA_CLI
The remote-peer case makes a network namespace of its own (needs root); elsewhere it says
why it is skipped and the rest still runs.
"""
import http.client
import json
import os
import subprocess
import sys
import tempfile
import time

CLI = sys.argv[1]
NS, VETH_HOST, VETH_NS = "tyr19ns", "tyr19a", "tyr19b"
HOST_ADDR, NS_ADDR = "10.219.19.1", "10.219.19.2"


class Server:
    """tachyra-cli -s with --json-stream; .events its lines so far, .stderr once stopped."""

    def __init__(self, *args, bind="127.0.0.1"):
        argv = [CLI, "-s", "-p", "0", "--json-stream", *args] + (["-B", bind] if bind else [])
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True)
        self.port = json.loads(self.proc.stdout.readline())["port"]

    def stop(self):
        self.proc.send_signal(2)
        out, self.stderr = self.proc.communicate(timeout=30)
        assert self.proc.returncode == 0, self.stderr
        self.events = [json.loads(line) for line in out.splitlines()]
        return self


def request(port, method, path, body=None, headers=None, host="127.0.0.1"):
    conn = http.client.HTTPConnection(host, port, timeout=20)
    conn.request(method, path, body=body, headers=headers or {})
    answer = conn.getresponse()
    data = answer.read()
    conn.close()
    return answer.status, data, answer


def tests_of(port, query=""):
    status, data, _ = request(port, "GET", "/results.json" + query)
    assert status == 200, (status, data)
    return json.loads(data)["tests"]


def raw_test(port, *args):
    out = subprocess.run([CLI, "-c", "127.0.0.1", "-p", str(port), "-t", "1", "-P", "3", "-J",
                          *args], capture_output=True, text=True, timeout=60, check=True).stdout
    return json.loads(out)["totals"]


def wait_for(predicate, what):
    for _ in range(100):
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("no " + what)


def check_history(db):
    """Rows survive a restart and carry the bytes the server counted in its sessions."""
    counted = []
    for upload in (False, True):
        server = Server("--results-db", db)
        raw_test(server.port, *(["--upload"] if upload else []))
        wait_for(lambda: len(tests_of(server.port)) == len(counted) + 1, "row")
        server.stop()
        mode = "upload" if upload else "download"
        counted.append(sum(e["bytes"] for e in server.events
                           if e["event"] == "session_end" and e["mode"] == mode))
    out = subprocess.run([CLI, "results", "--results-db", db, "--json"], capture_output=True,
                         text=True, check=True).stdout
    rows = json.loads(out)["tests"]
    assert [r["direction"] for r in rows] == ["upload", "download"], rows
    assert rows[0]["recv_bytes"] == counted[1] > 0 and rows[0]["send_bytes"] == 0, (rows, counted)
    assert rows[1]["send_bytes"] == counted[0] > 0 and rows[1]["recv_bytes"] == 0, (rows, counted)
    assert all(r["kind"] == "raw" and r["peer"] == "127.0.0.1" and r["latency_ms"] is None
               and 0.5 < r["seconds"] < 30 for r in rows), rows
    csv = subprocess.run([CLI, "results", "--results-db", db, "--csv", "--limit", "1"],
                         capture_output=True, text=True, check=True).stdout.splitlines()
    assert len(csv) == 2 and csv[1].split(",")[3] == "upload", csv
    print("history: 2 rows across a restart, bytes", counted)


def check_full_card(db):
    """The /full routes from one peer make one test; its card joins it; bad cards fail."""
    server = Server("--results-db", db)
    card = {"idle": 1.25, "jitter": 0.5, "download": 3, "upload": None, "other": 7}
    cases = [  # body, status, joined
        ("x" * 5000, 413, None),
        ("{\"idle\": \"1\"}", 400, None),
        ("[1, 2]", 400, None),
        (json.dumps(card), 200, True),
        (json.dumps(card), 200, False),  # its test has ended: nothing running to join
    ]
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=20)
    for path, body in [("/ping", None), ("/download?size=300000", None), ("/upload", b"u" * 70000)]:
        conn.request("POST" if body else "GET", path, body=body)
        assert conn.getresponse().read() is not None
    for body, status, joined in cases:
        got, data, _ = request(server.port, "POST", "/results", body=body,
                               headers={"Content-Type": "application/json"})
        assert got == status, (body[:40], got, data)
        if joined is not None:
            assert json.loads(data) == {"joined": joined}, data
    conn.close()
    rows = [r for r in tests_of(server.port) if r["kind"] == "full"]
    assert len(rows) == 1, rows
    row = rows[0]
    assert (row["send_bytes"], row["recv_bytes"], row["direction"]) == (300000, 70000, "both"), row
    assert row["latency_ms"] == {"idle": 1.25, "jitter": 0.5, "download": 3.0}, row
    server.stop()
    print("full: one test, card joined:", row["latency_ms"])


def parse_metrics(text):
    from prometheus_client.parser import text_string_to_metric_families
    values = {}
    for family in text_string_to_metric_families(text):
        for sample in family.samples:
            key = sample.name + "".join("{%s=%s}" % kv for kv in sorted(sample.labels.items()))
            values[key] = sample.value
    return values


def check_metrics(db):
    server = Server("--results-db", db)
    before = parse_metrics(request(server.port, "GET", "/metrics")[1].decode())
    raw_test(server.port)
    wait_for(lambda: tests_of(server.port), "row")
    after = parse_metrics(request(server.port, "GET", "/metrics")[1].decode())
    server.stop()
    for name in ["tachyra_sent_bytes_total", "tachyra_tests_total",
                 "tachyra_sessions_total{kind=raw}"]:
        assert after[name] > before[name], (name, before, after)
    assert after["tachyra_tests_total"] - before["tachyra_tests_total"] == 1, after
    assert after["tachyra_open_sessions{kind=raw}"] == 0, after
    assert {"tachyra_received_bytes_total", "tachyra_accept_paused_total"} <= set(after), after
    assert [k for k in after if k.startswith("tachyra_build_info")], after
    print("metrics: sent %d -> %d bytes" % (before["tachyra_sent_bytes_total"],
                                            after["tachyra_sent_bytes_total"]))


def check_damaged(tmp):
    """A file that is no database: one warning, then the server serves without history."""
    for name, content in [("garbage.sqlite", b"not a database " * 1000), ("dir", None)]:
        path = os.path.join(tmp, name)
        if content is None:
            os.makedirs(path)
        else:
            open(path, "wb").write(content)
        server = Server("--results-db", path)
        assert raw_test(server.port)["recv_bytes"] > 0
        assert tests_of(server.port) == []
        server.stop()
        warnings = [l for l in server.stderr.splitlines() if "warning: the results history" in l]
        assert len(warnings) == 1, server.stderr
    unused = os.path.join(tmp, "unused.sqlite")
    server = Server("--no-results")
    raw_test(server.port)
    server.stop()
    assert not os.path.exists(unused) and server.stderr == "", server.stderr
    print("damaged database: warned once, served on")


def sh(*argv, check=True):
    return subprocess.run(argv, capture_output=True, text=True, check=check)


def check_remote(db):
    """A peer in a namespace of our own: 403 without the token, 200 with it."""
    if os.geteuid() != 0:
        print("remote: SKIPPED (needs root for a network namespace)")
        return
    sh("ip", "netns", "del", NS, check=False)
    try:
        sh("ip", "netns", "add", NS)
        sh("ip", "link", "add", VETH_HOST, "type", "veth", "peer", "name", VETH_NS)
        sh("ip", "link", "set", VETH_NS, "netns", NS)
        sh("ip", "addr", "add", HOST_ADDR + "/24", "dev", VETH_HOST)
        sh("ip", "link", "set", VETH_HOST, "up")
        sh("ip", "netns", "exec", NS, "ip", "addr", "add", NS_ADDR + "/24", "dev", VETH_NS)
        sh("ip", "netns", "exec", NS, "ip", "link", "set", VETH_NS, "up")
        sh("ip", "netns", "exec", NS, "ip", "link", "set", "lo", "up")
        token = "s3cret/+ token"
        quoted = "s3cret%2F%2B+token"
        cases = [  # server token, path, headers, status
            (None, "/results.json", {}, 403),
            (None, "/results?token=x", {}, 403),
            (None, "/metrics", {}, 200),
            (token, "/results.json", {}, 403),
            (token, "/results.json?token=wrong", {}, 403),
            (token, "/results.json?limit=5&token=" + quoted, {}, 200),
            (token, "/results.csv", {"Cookie": "tachyra_token=" + quoted}, 200),
            (token, "/results/live", {"Cookie": "tachyra_token=wrong"}, 403),
            (token, "/metrics", {}, 403),
            (token, "/metrics", {"Authorization": "Bearer " + token}, 200),
            (token, "/metrics?token=" + quoted, {}, 200),
        ]
        client = ("import http.client, json, sys\n"
                  "for path, headers in json.loads(sys.argv[2]):\n"
                  "    c = http.client.HTTPConnection(sys.argv[1], int(sys.argv[3]), timeout=10)\n"
                  "    c.request('GET', path, headers=headers)\n"
                  "    a = c.getresponse()\n"
                  "    print(a.status, a.getheader('Set-Cookie') or '')\n"
                  "    c.close()\n")
        for server_token in (None, token):
            server = Server("--results-db", db,
                            *(["--results-token", server_token] if server_token else []),
                            bind=None)
            mine = [(p, h) for t, p, h, _ in cases if t == server_token]
            out = sh("ip", "netns", "exec", NS, sys.executable, "-c", client, HOST_ADDR,
                     json.dumps(mine), str(server.port)).stdout.splitlines()
            # this machine needs no token
            assert tests_of(server.port) is not None
            server.stop()
            want = [s for t, _, _, s in cases if t == server_token]
            assert [int(l.split()[0]) for l in out] == want, (server_token, out, want)
        print("remote: 403 without the token, 200 with it (%d cases)" % len(cases))
    finally:
        sh("ip", "link", "del", VETH_HOST, check=False)
        sh("ip", "netns", "del", NS, check=False)


with tempfile.TemporaryDirectory(prefix="tachyra-results-") as tmp:
    for check in (check_history, check_full_card, check_metrics, check_remote):
        check(os.path.join(tmp, check.__name__, "results.sqlite"))
    check_damaged(tmp)
print("results: all passed")
