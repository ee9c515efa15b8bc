"""tachyra-cli's JSON output, latency figures and address families, tachyra-cli as both peers.

Usage: latency_stream_test.py PATH_TO_TACHYRA_CLI
The shaped case runs in a network namespace of its own (needs root); elsewhere it says
why it is skipped and the rest still runs.
"""
import json
import subprocess
import sys

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
shape = lambda obj: " ".join(k + ("{%s}" % shape(v) if isinstance(v, dict) else "")
                             for k, v in obj.items())


def run_pair(cli, client_args, bind="127.0.0.1", host="127.0.0.1"):
    """One server with --json-stream and one client; the client's lines, each with whether
    it arrived before the client had exited, its stderr, and the server's lines."""
    server = subprocess.Popen([cli, "-s", "-B", bind, "-p", "0", "--json-stream"],
                              stdout=subprocess.PIPE, text=True)
    try:
        first = json.loads(server.stdout.readline())
        assert shape(first) == "event port addresses" and first["event"] == "listening", first
        client = subprocess.Popen([cli, "-c", host, "-p", str(first["port"]),
                                   *client_args], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True)
        lines = [(line, client.poll() is None) for line in client.stdout]
        err = client.stderr.read()
        assert client.wait(timeout=60) == 0, "-B %r, exit %s: %s" % (bind, client.returncode, err)
    finally:
        server.send_signal(2)
        out, _ = server.communicate(timeout=30)
    return lines, err, [json.loads(line) for line in out.splitlines()]


def check_stream(cli):
    lines, _, server_lines = run_pair(cli, ["-t", "3", "--json-stream"])
    events = [json.loads(line) for line, _ in lines]  # every line parses alone
    end, intervals = events[-1], events[:-1]
    assert end["event"] == "end" and end["error"] is None, events
    assert all(shape(e) == CLIENT[e["event"]] for e in events), events
    assert all(shape(e) == SERVER[e["event"]] for e in server_lines), server_lines
    assert len(intervals) >= 2 and all(e["event"] == "interval" for e in intervals), events
    assert lines[0][1], "the first interval line only came after the client had ended"
    assert end["totals"]["recv_bytes"] == sum(i["recv_bytes"] for i in intervals) > 0
    # The server's lines: its seconds, and the client's sessions as downloads.
    assert set(SERVER) == {e["event"] for e in server_lines}, server_lines
    downloads = [e for e in server_lines
                 if e["event"] == "session_end" and e["mode"] == "download"]
    assert len(downloads) == 10, downloads
    assert all(e["bytes"] > 0 and e["peer"].startswith("127.0.0.1:") for e in downloads)
    assert sum(e["bytes"] for e in downloads) >= end["totals"]["recv_bytes"]
    print("stream: %d interval lines, %d server lines" % (len(intervals), len(server_lines)))


def check_families(cli):
    """By name or by either family's literal, whichever family the server listens on ("": all)."""
    for bind, hosts in [("", "::1 [::1] localhost 127.0.0.1"), ("::1", "::1 [::1] localhost"),
                        ("127.0.0.1", "localhost")]:
        for host in hosts.split():
            run_pair(cli, ["-t", "1", "-P", "2"], bind, host)


def latency_of(cli):
    """The idle median, the loaded figure and each interval's mean round trip but the last,
    from a -J report that must be all the client prints."""
    lines, err, _ = run_pair(cli, ["-t", "4", "-P", "3", "-J"])
    text = "".join(line for line, _ in lines)
    assert err == "" and text.startswith("{") and text.endswith("}\n"), (err, text)
    report = json.loads(text)
    assert text.count('"version"') == 1 and report["error"] is None, text
    assert shape(report) == REPORT and all(shape(i) == INTERVAL for i in report["intervals"])
    settings, intervals = report["settings"], report["intervals"]
    assert settings["direction"] == "download" and settings["connections"] == 3, settings
    assert len(intervals) >= 2 and report["totals"]["recv_bytes"] > 0, report
    latency = report["totals"]["latency_ms"]
    rtts = [i["latency_ms"]["rtt_mean"] for i in intervals[:-1]]
    return latency["idle"]["median"], latency["loaded_figure"], rtts


def check_latency(cli):
    idle, loaded, rtts = latency_of(cli)
    assert all(r is not None and 0 < r < 5 for r in [idle, loaded, *rtts]), (idle, loaded, rtts)
    print("loopback: idle %.3f ms, under load %.3f ms" % (idle, loaded))
    shape = ("ip link set lo up mtu 1500 && "
             "tc qdisc replace dev lo root tbf rate 100mbit burst 64kb latency 300ms")
    probe = subprocess.run(["unshare", "--net", "sh", "-c", shape], capture_output=True)
    if probe.returncode != 0:
        print("shaped case skipped: cannot make a network namespace here (%s)"
              % probe.stderr.decode().strip())
        return
    # Both peers in one namespace: this script runs the pair again inside it.
    inner = subprocess.run(["unshare", "--net", "sh", "-c", shape + ' && exec "$@"', "sh",
                            sys.executable, __file__, cli, "--inside"],
                           capture_output=True, text=True, timeout=120)
    assert inner.returncode == 0, inner.stderr
    idle, loaded = json.loads(inner.stdout.splitlines()[-1])
    print("shaped: idle %.3f ms, under load %.3f ms" % (idle, loaded))
    assert loaded >= 5 * idle, (idle, loaded)


if __name__ == "__main__":
    if sys.argv[2:] == ["--inside"]:
        print(json.dumps(latency_of(sys.argv[1])[:2]))
    else:
        check_stream(sys.argv[1])
        check_latency(sys.argv[1])
        check_families(sys.argv[1])
