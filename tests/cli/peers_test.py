"""tachyra-cli as both peers: its JSON output and latency figures, address families, a rate
cap, both ways at once, short intervals, a left-out warm-up, thresholds, UDP loss and
strangers' datagrams; then latency, an upload and UDP loss through token buckets in network
namespaces of its own (where it cannot make them, it says why those are skipped).
Usage: peers_test.py PATH_TO_TACHYRA_CLI [tcp|rates|udp]   (default: all)"""
import json
import os
import select
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pykit"))
from tachyra_peers import Server, client, run_shaped, veth_namespaces  # noqa: E402

# What scripts read: the keys of each JSON object, in order, a nested object's in braces.
INTERVAL = ("start end omitted recv_bytes send_bytes recv_MBps send_MBps "
            "latency_ms{rtt_min rtt_mean rtt_max handshake}")
TOTALS = ("totals{seconds recv_bytes send_bytes recv_MBps send_MBps latency_ms{"
          "idle{min median max} loaded{min median max} loaded_figure}}")
CLIENT = {"interval": "event " + INTERVAL, "end": "event %s verdict error" % TOTALS}
SERVER = {"interval": "event recv_bytes send_bytes recv_MBps send_MBps sessions",
          "session_start": "event peer", "session_end": "event peer mode bytes seconds"}
REPORT = ("version settings{host port direction connections seconds interval omit rate_bps} "
          "intervals %s verdict error" % TOTALS)
UDP_KEYS = ["sent_datagrams", "received_datagrams", "lost_datagrams", "loss_percent",
            "out_of_order", "duplicates", "jitter_ms"]
shape = lambda obj: " ".join(k + ("{%s}" % shape(v) if isinstance(v, dict) else "")
                             for k, v in obj.items())


def run(cli, *args, status=0, server_args=()):
    """One client test (-J) against a server of its own: the report, which must be all the
    client prints, its stderr and the server's session_end lines."""
    with Server(cli, *server_args) as server:
        out, err = client(cli, server.port, "-J", *args, status=status)
    assert out.startswith("{") and out.endswith("}\n"), out
    return json.loads(out), err, [e for e in server.events if e["event"] == "session_end"]


def mbits(report, key):
    totals = report["totals"]
    return totals[key] * 8 / totals["seconds"] / 1e6


def check_stream(cli):
    """Each line as it happens, and parses alone; the server's lines name the sessions."""
    with Server(cli) as server:
        assert shape(server.listening) == "event port addresses", server.listening
        stream = subprocess.Popen([cli, "-c", "127.0.0.1", "-p", str(server.port), "-t", "3",
                                   "--json-stream"], stdout=subprocess.PIPE, text=True)
        lines = [(line, stream.poll() is None) for line in stream.stdout]
        assert stream.wait(timeout=60) == 0
    events = [json.loads(line) for line, _ in lines]
    end, intervals = events[-1], events[:-1]
    assert end["event"] == "end" and end["error"] is None, events
    assert all(shape(e) == CLIENT[e["event"]] for e in events), events
    assert all(shape(e) == SERVER[e["event"]] for e in server.events), server.events
    assert len(intervals) >= 2 and all(e["event"] == "interval" for e in intervals), events
    assert lines[0][1], "the first interval line only came after the client had ended"
    assert end["totals"]["recv_bytes"] == sum(i["recv_bytes"] for i in intervals) > 0
    assert set(SERVER) == {e["event"] for e in server.events}, server.events
    downloads = [e for e in server.events
                 if e["event"] == "session_end" and e["mode"] == "download"]
    assert len(downloads) == 10, downloads
    assert all(e["bytes"] > 0 and e["peer"].startswith("127.0.0.1:") for e in downloads)
    assert sum(e["bytes"] for e in downloads) >= end["totals"]["recv_bytes"]


def check_families(cli):
    """By name or by either family's literal, whichever family the server listens on ("": all)."""
    for bind, hosts in [("", "::1 [::1] localhost 127.0.0.1"), ("::1", "::1 [::1] localhost"),
                        ("127.0.0.1", "localhost")]:
        with Server(cli, bind=bind) as server:
            for host in hosts.split():
                client(cli, server.port, "-t", "1", "-P", "2", host=host)


def latency_of(cli):
    """The idle median, the loaded figure and each interval's mean round trip but the last,
    of a download on 3 connections."""
    report, err, _ = run(cli, "-t", "4", "-P", "3")
    assert err == "" and report["error"] is None and shape(report) == REPORT, (err, report)
    assert all(shape(i) == INTERVAL for i in report["intervals"]), report
    settings, intervals = report["settings"], report["intervals"]
    assert settings["direction"] == "download" and settings["connections"] == 3, settings
    assert len(intervals) >= 2 and report["totals"]["recv_bytes"] > 0, report
    latency = report["totals"]["latency_ms"]
    rtts = [i["latency_ms"]["rtt_mean"] for i in intervals[:-1]]
    return [latency["idle"]["median"], latency["loaded_figure"], *rtts]


def check_latency(cli):
    figures = latency_of(cli)
    assert all(f is not None and 0 < f < 50 for f in figures), figures  # in ms, not µs or s


def check_rate_and_intervals(cli):
    for way, key in (([], "recv_bytes"), (["--upload"], "send_bytes")):
        report, err, _ = run(cli, "-t", "3", "-O", "1", "-b", "400M", "--fail-below", "10M", *way)
        # Never above the cap; below it only by what a busy machine's late wake-ups lose.
        assert 280 <= mbits(report, key) <= 420, (way, mbits(report, key))
        assert report["verdict"] == {"passed": True, "failed": []} and err == "", (report, err)
    report, _, ends = run(cli, "-t", "2", "-P", "3", "--bidir", "-i", "0.5", "-O", "1")
    intervals = report["intervals"]
    full = [i for i in intervals if i["end"] - i["start"] > 0.3]
    assert all(abs(i["end"] - i["start"] - 0.5) < 0.1 for i in full), intervals
    assert [i["omitted"] for i in full[:3]] == [True, True, False], intervals
    assert all(i["recv_bytes"] > 0 and i["send_bytes"] > 0 for i in full), intervals
    kept = [i for i in intervals if not i["omitted"]]
    for key in ("recv_bytes", "send_bytes"):
        assert report["totals"][key] == sum(i[key] for i in kept) > 0, report["totals"]
    modes = sorted(e["mode"] for e in ends if e["mode"] != "none")  # probes carry no data
    assert modes == ["download"] * 3 + ["upload"] * 3, ends
    assert report["settings"]["direction"] == "bidir", report["settings"]
    # A threshold missed: exit status 3, the verdict and the shortfall.
    report, err, _ = run(cli, "-t", "2", "-b", "20M", "--fail-below", "100M", status=3)
    assert report["verdict"] == {"passed": False, "failed": ["rate"]}, report["verdict"]
    assert "rate below 100.00 Mbit/s" in err and "short by" in err, err


def check_udp(cli):
    """100 Mbit/s each way: under 2 % loss, figures in every interval, totals, the server's
    session_end and the history's rows."""
    db = ["--results-db", os.path.join(tempfile.mkdtemp(), "r.sqlite")]
    ends = []
    for way in ([], ["--upload"]):
        report, _, more = run(cli, "-u", "-b", "100M", "-t", "3", "--fail-loss", "2", *way,
                              server_args=db)
        ends += more
        assert report["verdict"] == {"passed": True, "failed": []}, report["verdict"]
        totals = report["totals"]["udp"]
        assert list(totals) == UDP_KEYS and all(list(i["udp"]) == UDP_KEYS
                                                for i in report["intervals"]), report
        assert totals["received_datagrams"] > 20000 and totals["loss_percent"] < 2, totals
        moved = report["totals"]["send_bytes" if way else "recv_bytes"]
        assert moved >= totals["received_datagrams"] * 1200, report["totals"]
    assert [e["mode"] for e in ends] == ["udp", "udp"], ends
    assert all(list(e["udp"]) == UDP_KEYS and e["udp"]["received_datagrams"] > 20000
               for e in ends), ends
    rows = json.loads(subprocess.run([cli, "results", "--json", *db], capture_output=True,
                                     text=True, timeout=30).stdout)["tests"]
    assert [(r["kind"], r["direction"]) for r in rows] == [("udp", "upload"), ("udp", "download")]
    assert rows[0]["recv_bytes"] == ends[1]["bytes"] and rows[1]["send_bytes"] == ends[0]["bytes"]


def control(port):
    """A control connection of our own for an upload; the test id the server answers with."""
    conn = socket.create_connection(("127.0.0.1", port))
    conn.sendall(b"EST\x02" + struct.pack(">HBBIQQ", 1, 0, 0, 1200, 10_000_000, 0))
    answer = conn.recv(16, socket.MSG_WAITALL)
    assert answer[0] == 0, answer
    return conn, struct.unpack(">Q", answer[8:])[0]


def received_by_server(conn):
    """The received count of the server's next report."""
    record = conn.recv(56, socket.MSG_WAITALL)
    assert record[0:1] == b"R", record
    return struct.unpack(">Q", record[16:24])[0]


def check_strangers(cli):
    """Datagrams without a control connection, or from another host than its peer, get no
    answer and are not counted; the control connection's own are."""
    with Server(cli) as server:
        conn, test_id = control(server.port)
        probe = lambda tid, seq: struct.pack(">QII", tid, seq, 0) + bytes(1184)
        stranger = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        stranger.bind(("127.0.0.2", 0))  # the same test id from another host
        unknown = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for seq in range(50):
            stranger.sendto(probe(test_id, seq), ("127.0.0.1", server.port))
            unknown.sendto(probe(test_id ^ 1, seq), ("127.0.0.1", server.port))
            unknown.sendto(b"EST\x01", ("127.0.0.1", server.port))
        answered = select.select([stranger, unknown], [], [], 0.5)[0]
        assert not answered, "the server answered a stranger"
        time.sleep(0.3)
        assert received_by_server(conn) == 0
        own = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for seq in range(10):
            own.sendto(probe(test_id, seq), ("127.0.0.1", server.port))
        deadline = time.monotonic() + 5
        while received_by_server(conn) != 10:
            assert time.monotonic() < deadline, "the test's own datagrams were not counted"
        conn.close()
    received = sum(e["recv_bytes"] for e in server.events if e["event"] == "interval")
    assert received <= 10 * 1200, received  # the strangers' bytes are not counted


def check_no_udp_server(cli):
    """No server: exit 1 with the reason, for a refused connect and for a peer that
    takes the connection but never answers; a datagram size too small: exit 2."""
    with socket.create_server(("127.0.0.1", 0)) as free:
        port = free.getsockname()[1]
    _, err = client(cli, port, "-u", "-t", "2", status=1)
    assert "refused" in err.lower(), err
    with socket.create_server(("127.0.0.1", 0)) as silent:
        _, err = client(cli, silent.getsockname()[1], "-u", "-t", "5", "--connect-timeout", "1",
                        status=1)
    assert "did not answer" in err, err
    _, err = client(cli, port, "-u", "-l", "15", status=2)
    assert "-l" in err, err


def check_shaped_udp(cli):
    """80 Mbit/s upload through a 50 Mbit/s token bucket: about 37.5 % lost."""
    with veth_namespaces(tbf="rate 50mbit burst 32kb latency 5ms") as peers:
        if peers is None:
            return
        with Server(cli, bind="10.91.0.2", prefix=peers[1]) as server:
            out, err = client(cli, server.port, "-u", "--upload", "-b", "80M", "-t", "4", "-J",
                              "--fail-loss", "5", host="10.91.0.2", prefix=peers[0], status=3)
    assert "loss above 5.00 %" in err, err
    report = json.loads(out)
    assert report["verdict"] == {"passed": False, "failed": ["loss"]}, report["verdict"]
    assert 25 <= report["totals"]["udp"]["loss_percent"] <= 50, report["totals"]
    print("shaped UDP: %s" % report["totals"]["udp"])


def shaped(cli):
    """Through a 50 Mbit/s bucket with room for 400 ms: the latency under load grows, and an
    upload's client never reports more than the server received, nor more than the bucket
    lets through."""
    idle, loaded, *_ = latency_of(cli)
    assert loaded >= 5 * idle, (idle, loaded)
    for _ in range(3):
        report, _, ends = run(cli, "-t", "4", "-P", "4", "--upload")
        served = sum(e["bytes"] for e in ends if e["mode"] == "upload")
        sent = report["totals"]["send_bytes"]
        assert 0 < sent <= served, (sent, served)
        assert mbits(report, "send_bytes") <= 50.5, mbits(report, "send_bytes")
    print("shaped: idle %.3f ms, under load %.3f ms; upload %.2f Mbit/s, %d of %d bytes"
          % (idle, loaded, mbits(report, "send_bytes"), sent, served))


GROUPS = {  # one CTest entry each, so that they run side by side
    "tcp": (check_stream, check_latency, check_families),
    "rates": (check_rate_and_intervals,),
    "udp": (check_udp, check_strangers, check_no_udp_server, check_shaped_udp),
}

if __name__ == "__main__":
    if sys.argv[-1] == "--inside":
        shaped(sys.argv[1])
    else:
        group = sys.argv[2] if len(sys.argv) > 2 else None
        assert group in (None, *GROUPS), "no group " + group
        for check in sum((v for k, v in GROUPS.items() if group in (None, k)), ()):
            check(sys.argv[1])
        if group in (None, "tcp"):
            print(run_shaped("rate 50mbit burst 32kb latency 400ms") or "", end="")
