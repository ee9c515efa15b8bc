"""The paths a client test can take, tachyra-cli as both peers: a rate cap, both ways at
once, short intervals, a left-out warm-up, thresholds, and an upload through a shaped link.

Usage: paths_test.py PATH_TO_TACHYRA_CLI
The shaped case runs in a network namespace of its own (needs root); elsewhere it says
why it is skipped and the rest still runs.
"""
import json
import subprocess
import sys


def run(cli, args, status=0):
    """A server with --json-stream and one client test; the client's JSON report, its
    stderr and the server's session_end lines."""
    server = subprocess.Popen([cli, "-s", "-B", "127.0.0.1", "-p", "0", "--json-stream"],
                              stdout=subprocess.PIPE, text=True)
    try:
        port = json.loads(server.stdout.readline())["port"]
        client = subprocess.run([cli, "-c", "127.0.0.1", "-p", str(port), "-J", *args],
                                capture_output=True, text=True, timeout=90)
        assert client.returncode == status, (args, client.returncode, client.stderr)
    finally:
        server.send_signal(2)
        out, _ = server.communicate(timeout=30)
    # Sessions that carried data (the handshake probes carry none).
    ends = [e for e in map(json.loads, out.splitlines())
            if e["event"] == "session_end" and e["mode"] != "none"]
    return json.loads(client.stdout), client.stderr, ends


def mbits(report, key):
    totals = report["totals"]
    return totals[key] * 8 / totals["seconds"] / 1e6


def check_rate_and_intervals(cli):
    for way, key in (([], "recv_bytes"), (["--upload"], "send_bytes")):
        report, _, _ = run(cli, ["-t", "3", "-O", "1", "-b", "400M", *way])
        assert abs(mbits(report, key) - 400) <= 20, (way, mbits(report, key))
    report, _, ends = run(cli, ["-t", "2", "-P", "3", "--bidir", "-i", "0.5", "-O", "1"])
    intervals = report["intervals"]
    full = [i for i in intervals if i["end"] - i["start"] > 0.3]
    assert all(abs(i["end"] - i["start"] - 0.5) < 0.1 for i in full), intervals
    assert [i["omitted"] for i in full[:3]] == [True, True, False], intervals
    assert all(i["recv_bytes"] > 0 and i["send_bytes"] > 0 for i in full), intervals
    kept = [i for i in intervals if not i["omitted"]]
    for key in ("recv_bytes", "send_bytes"):
        assert report["totals"][key] == sum(i[key] for i in kept) > 0, report["totals"]
    assert sorted(e["mode"] for e in ends) == ["download"] * 3 + ["upload"] * 3, ends
    assert report["settings"]["direction"] == "bidir", report["settings"]
    print("rate cap, bidir, -i 0.5 and -O 1: right")


def check_thresholds(cli):
    report, err, _ = run(cli, ["-t", "2", "-b", "20M", "--fail-below", "100M"], status=3)
    assert report["verdict"] == {"passed": False, "failed": ["rate"]}, report["verdict"]
    assert "rate below 100.00 Mbit/s" in err and "short by" in err, err
    report, err, _ = run(cli, ["-t", "2", "-b", "20M", "--fail-below", "10M"])
    assert report["verdict"] == {"passed": True, "failed": []} and err == "", (report, err)
    print("thresholds: missed gives 3, met gives 0")


def check_shaped_upload(cli):
    """Through a 50 Mbit/s bucket the client never reports more than the server received,
    nor more than the bucket lets through."""
    shape = ("ip link set lo up mtu 1500 && "
             "tc qdisc replace dev lo root tbf rate 50mbit burst 32kb latency 400ms")
    probe = subprocess.run(["unshare", "--net", "sh", "-c", shape], capture_output=True)
    if probe.returncode != 0:
        print("shaped case skipped: cannot make a network namespace here (%s)"
              % probe.stderr.decode().strip())
        return
    inner = subprocess.run(["unshare", "--net", "sh", "-c", shape + ' && exec "$@"', "sh",
                            sys.executable, __file__, cli, "--inside"],
                           capture_output=True, text=True, timeout=120)
    assert inner.returncode == 0, inner.stderr
    print(inner.stdout.strip())


def shaped_upload(cli):
    for _ in range(3):
        report, _, ends = run(cli, ["-t", "4", "-P", "4", "--upload"])
        served = sum(e["bytes"] for e in ends if e["mode"] == "upload")
        sent = report["totals"]["send_bytes"]
        assert 0 < sent <= served, (sent, served)
        assert mbits(report, "send_bytes") <= 50.5, mbits(report, "send_bytes")
    print("shaped upload: %.2f Mbit/s reported, %d of %d bytes the server counted"
          % (mbits(report, "send_bytes"), sent, served))


if __name__ == "__main__":
    if sys.argv[2:] == ["--inside"]:
        shaped_upload(sys.argv[1])
    else:
        check_rate_and_intervals(sys.argv[1])
        check_thresholds(sys.argv[1])
        check_shaped_upload(sys.argv[1])
