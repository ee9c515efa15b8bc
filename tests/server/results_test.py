"""The results history, its routes and /metrics, with tachyra-cli as server and as peer
(results_test.py PATH_TO_TACHYRA_CLI); the remote-peer case makes network namespaces of
its own, or says why it is skipped."""
import http.client
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pykit"))
from tachyra_peers import Server, client, get_from, veth_namespaces, wait_for  # noqa: E402

CLI = sys.argv[1]


def request(port, method, path, body=None, headers=None):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    conn.request(method, path, body=body, headers=headers or {})
    answer = conn.getresponse()
    data = answer.read()
    conn.close()
    return answer.status, data


def tests_of(port):
    status, data = request(port, "GET", "/results.json")
    assert status == 200, (status, data)
    return json.loads(data)["tests"]


def raw_test(port, *args):
    return json.loads(client(CLI, port, "-t", "1", "-P", "3", "-J", *args)[0])["totals"]


def metrics(port):
    from prometheus_client.parser import text_string_to_metric_families
    values = {}
    for family in text_string_to_metric_families(request(port, "GET", "/metrics")[1].decode()):
        for sample in family.samples:
            key = sample.name + "".join("{%s=%s}" % kv for kv in sorted(sample.labels.items()))
            values[key] = sample.value
    return values


def check_history(db):
    """Rows survive a restart and carry the bytes the server counted in its sessions; each
    test moves /metrics on by one test, its session and its bytes."""
    counted = []
    for way, mode, moved in (([], "download", "sent"), (["--upload"], "upload", "received")):
        with Server(CLI, "--results-db", db) as server:
            before = metrics(server.port)
            raw_test(server.port, *way)
            wait_for(lambda: len(tests_of(server.port)) == len(counted) + 1, "row")
            after = metrics(server.port)
        counted.append(sum(e["bytes"] for e in server.events
                           if e["event"] == "session_end" and e["mode"] == mode))
        for name in ["tachyra_%s_bytes_total" % moved, "tachyra_sessions_total{kind=raw}"]:
            assert after[name] > before[name], (name, before, after)
        assert after["tachyra_tests_total"] - before["tachyra_tests_total"] == 1, after
        assert after["tachyra_open_sessions{kind=raw}"] == 0, after
    assert {"tachyra_accept_paused_total", "tachyra_received_bytes_total"} <= set(after), after
    assert [k for k in after if k.startswith("tachyra_build_info")], after
    rows = json.loads(subprocess.run([CLI, "results", "--results-db", db, "--json"],
                                     capture_output=True, text=True, check=True).stdout)["tests"]
    assert [r["direction"] for r in rows] == ["upload", "download"], rows
    assert rows[0]["recv_bytes"] == counted[1] > 0 and rows[0]["send_bytes"] == 0, (rows, counted)
    assert rows[1]["send_bytes"] == counted[0] > 0 and rows[1]["recv_bytes"] == 0, (rows, counted)
    assert all(r["kind"] == "raw" and r["peer"] == "127.0.0.1" and r["latency_ms"] is None
               and 0.5 < r["seconds"] < 30 for r in rows), rows
    csv = subprocess.run([CLI, "results", "--results-db", db, "--csv", "--limit", "1"],
                         capture_output=True, text=True, check=True).stdout.splitlines()
    assert len(csv) == 2 and csv[1].split(",")[3] == "upload", csv


def check_full_card(db):
    """The /full routes from one peer make one test; its card joins it; bad cards fail."""
    card = {"idle": 1.25, "jitter": 0.5, "download": 3, "upload": None, "other": 7}
    cases = [  # body, status, joined
        ("x" * 5000, 413, None),
        ("{\"idle\": \"1\"}", 400, None),
        ("[1, 2]", 400, None),
        (json.dumps(card), 200, True),
        (json.dumps(card), 200, False),  # its test has ended: nothing running to join
    ]
    with Server(CLI, "--results-db", db) as server:
        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=20)
        for path, body in [("/ping", None), ("/download?size=300000", None),
                           ("/upload", b"u" * 70000)]:
            conn.request("POST" if body else "GET", path, body=body)
            conn.getresponse().read()
        for body, status, joined in cases:
            got, data = request(server.port, "POST", "/results", body=body,
                                headers={"Content-Type": "application/json"})
            assert got == status, (body[:40], got, data)
            assert joined is None or json.loads(data) == {"joined": joined}, data
        conn.close()
        # Another peer that only downloads: its test takes its requests' direction.
        other = http.client.HTTPConnection("127.0.0.1", server.port, timeout=20,
                                           source_address=("127.0.0.2", 0))
        for path in ("/ping", "/download?size=1000"):
            other.request("GET", path)
            other.getresponse().read()
        other.close()
        full = lambda: [r for r in tests_of(server.port) if r["kind"] == "full"]
        rows = wait_for(lambda: len(full()) >= 2 and full(), "full test from 127.0.0.2")
    assert len(rows) == 2, rows
    row, other_row = sorted(rows, key=lambda r: r["peer"])
    assert (other_row["peer"], other_row["direction"]) == ("127.0.0.2", "download"), other_row
    assert (row["send_bytes"], row["recv_bytes"], row["direction"]) == (300000, 70000, "both"), row
    assert row["latency_ms"] == {"idle": 1.25, "jitter": 0.5, "download": 3.0}, row


def check_damaged(db):
    """A file that is no database: one warning, then the server serves without history.
    --no-results: no word, and no file in the data folder."""
    folder = os.path.dirname(db)
    os.makedirs(db)  # a folder where the file should be
    garbage = os.path.join(folder, "garbage.sqlite")
    with open(garbage, "wb") as f:
        f.write(b"not a database " * 1000)
    os.environ["XDG_DATA_HOME"] = os.path.join(folder, "data")
    for args, warnings in ((["--results-db", garbage], 1), (["--results-db", db], 1),
                           (["--no-results"], 0)):
        with Server(CLI, *args) as server:
            assert raw_test(server.port)["recv_bytes"] > 0
            assert args == ["--no-results"] or tests_of(server.port) == []
        said = [l for l in server.stderr.splitlines() if "warning: the results history" in l]
        assert len(said) == len(server.stderr.splitlines()) == warnings, server.stderr
    assert not os.path.exists(os.environ["XDG_DATA_HOME"]), os.listdir(folder)


TOKEN, QUOTED = "s3cret/+ token", "s3cret%2F%2B+token"
REMOTE = [  # server token, path, headers, status for a peer on another host
    (None, "/results.json", {}, 403),
    (None, "/results?token=x", {}, 403),
    (None, "/metrics", {}, 200),
    (TOKEN, "/results.json", {}, 403),
    (TOKEN, "/results.json?token=wrong", {}, 403),
    (TOKEN, "/results.json?limit=5&token=" + QUOTED, {}, 200),
    (TOKEN, "/results.csv", {"Cookie": "tachyra_token=" + QUOTED}, 200),
    (TOKEN, "/results/live", {"Cookie": "tachyra_token=wrong"}, 403),
    (TOKEN, "/metrics", {}, 403),
    (TOKEN, "/metrics", {"Authorization": "Bearer " + TOKEN}, 200),
    (TOKEN, "/metrics?token=" + QUOTED, {}, 200),
]


def check_remote(db):
    """A peer from another namespace: 403 without the token, 200 with it; the server's own
    host needs none."""
    with veth_namespaces() as peers:
        if peers is None:
            return
        for token in (None, TOKEN):
            with Server(CLI, "--results-db", db, *(["--results-token", token] if token else []),
                        bind=None, prefix=peers[0]) as server:
                got = [get_from(peers[1], "10.91.0.1", server.port, path, headers)[0]
                       for t, path, headers, _ in REMOTE if t == token]
                local = get_from(peers[0], "127.0.0.1", server.port, "/results.json")[0]
            want = [status for t, *_, status in REMOTE if t == token]
            assert got == want and local == 200, (token, got, want, local)


with tempfile.TemporaryDirectory(prefix="tachyra-results-") as tmp:
    for check in (check_history, check_full_card, check_remote, check_damaged):
        check(os.path.join(tmp, check.__name__, "results.sqlite"))
