"""What tachyra-cli -s prints: nothing while idle, rate lines and one end line for a test,
and, in network namespaces of its own (needs root; skipped with a word elsewhere), the
addresses for other devices, its QR code read back by zbarimg, and /addresses, which
tells them to a browser on the server's machine alone.
Usage: server_output_test.py PATH_TO_TACHYRA_CLI
"""
import json, os, re, shutil, signal, subprocess, sys, tempfile, time

CLI = sys.argv[1]
RATE = re.compile(r"^recv [\d.]+MB/s  send [\d.]+MB/s$")


class Server:
    """tachyra-cli -s, its output lines read as they come."""

    def __init__(self, args, prefix=()):
        self.proc = subprocess.Popen([*prefix, CLI, "-s", "-p", "0", *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        os.set_blocking(self.proc.stdout.fileno(), False)
        self.lines, self.rest = [], ""
        self.port = int(self.wait(lambda l: "listening on port" in l, "port").split()[-1])

    def pump(self):
        try:
            self.rest += os.read(self.proc.stdout.fileno(), 1 << 16).decode()
        except BlockingIOError:
            pass
        *done, self.rest = self.rest.split("\n")
        self.lines += done

    def wait(self, pred, what, seen=0):
        """The first line from index seen on that passes pred, within 20 s."""
        for _ in range(400):
            self.pump()
            found = [l for l in self.lines[seen:] if pred(l)]
            if found:
                return found[0]
            time.sleep(0.05)
        raise AssertionError("no %s: %r" % (what, self.lines))

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        os.set_blocking(self.proc.stdout.fileno(), True)
        out, err = self.proc.communicate(timeout=30)
        self.lines += (self.rest + out.decode()).splitlines()
        assert self.proc.returncode == 0 and err == b"", (self.proc.returncode, err)
        return self.lines


def quiet_and_tests():
    server = Server(["-B", "127.0.0.1"])
    try:
        time.sleep(3.5)  # three meter seconds and more with nothing moving
        server.pump()
        assert not any(RATE.match(l) for l in server.lines), server.lines
        for args, part in [(("-t", "2", "-P", "4"), "raw download"),
                           (("-t", "1", "-P", "3", "--upload"), "raw upload")]:
            start = len(server.lines)
            subprocess.run([CLI, "-c", "127.0.0.1", "-p", str(server.port), *args], check=True,
                           stdout=subprocess.DEVNULL, timeout=60)
            end = server.wait(lambda l: l.startswith("Test ended: "), "end line", start)
            got = re.match(r"^Test ended: 127\.0\.0\.1, (raw \w+), ([\d.]+) s, ([\d.]+) MB/s$", end)
            # One line for the whole test, as long as the test and not one connection.
            assert got and got.group(1) == part and float(got.group(3)) > 0, end
            assert 0.8 < float(got.group(2)) < 30, end
            time.sleep(1.5)  # the meter's last second of the test
            server.pump()
            mine = server.lines[start:]
            assert any(RATE.match(l) and l != "recv 0.00MB/s  send 0.00MB/s" for l in mine), mine
            assert sum(l.startswith("Test ended: ") for l in mine) == 1, mine
    finally:
        lines = server.stop()
    assert "recv 0.00MB/s  send 0.00MB/s" not in lines, lines


def read_qr(lines, folder):
    """What zbarimg reads from the half blocks (light drawn), 6 pixels a module."""
    halves = {"\u2588": "11", "\u2580": "10", "\u2584": "01", " ": "00"}
    rows = [[halves[ch][i] for ch in line] for line in lines for i in (0, 1)]
    pixels = [" ".join(("255" if v == "1" else "0") for v in row for _ in range(6))
              for row in rows for _ in range(6)]
    path = os.path.join(folder, "qr.pgm")
    with open(path, "w") as f:
        f.write("P2 %d %d 255\n%s\n" % (len(rows[0]) * 6, len(pixels), "\n".join(pixels)))
    return subprocess.run(["zbarimg", "-q", "--raw", path], capture_output=True,
                          text=True).stdout.strip()


def addresses_in_namespaces():
    if os.geteuid() != 0 or not shutil.which("ip") or not shutil.which("zbarimg"):
        print("address case skipped: it needs root, ip and zbarimg (zbar-tools)")
        return
    tag = "tso%d" % os.getpid()
    sh = lambda *cmds: [subprocess.run(c.split(), check=True, capture_output=True) for c in cmds]
    try:
        sh("ip netns add %sa" % tag, "ip netns add %sb" % tag,
           "ip link add %sx netns %sa type veth peer name %sy netns %sb" % (tag, tag, tag, tag))
        for ns, n in (("a", 1), ("b", 2)):
            ip, dev = "ip netns exec %s%s ip " % (tag, ns), tag + "xy"[n - 1]
            sh(ip + "link set lo up", ip + "addr add 10.91.0.%d/24 dev %s" % (n, dev),
               ip + "-6 addr add fd00:91::%d/64 dev %s nodad" % (n, dev),
               ip + "link set %s up" % dev)  # which gives it a link-local fe80:: address too
        in_a, in_b = ("ip", "netns", "exec", tag + "a"), ("ip", "netns", "exec", tag + "b")
        server = Server(["--qr"], prefix=in_a)
        try:
            p = server.port
            full = ["http://10.91.0.1:%d/full" % p, "http://[fd00:91::1]:%d/full" % p]
            at = server.lines.index(server.wait(lambda l: l == "QR code of %s:" % full[0], "QR")) + 1
            server.wait(lambda l: len(server.lines) - at >= (len(server.lines[at]) + 1) // 2,
                        "QR lines", at)
            qr = server.lines[at:at + (len(server.lines[at]) + 1) // 2]
            others = [l for l in server.lines if l.startswith("From other devices: ")]
            assert others == ["From other devices: %s  %s" % (f[:-4], f) for f in full], others
            ask = lambda prefix, host: json.loads(subprocess.run(
                [*prefix, sys.executable, "-c", "import sys, urllib.request; print(urllib."
                 "request.urlopen(sys.argv[1], timeout=20).read().decode())",
                 "http://%s:%d/addresses" % (host, p)], capture_output=True, text=True,
                check=True, timeout=60).stdout)
            assert ask(in_a, "127.0.0.1") == ask(in_a, "10.91.0.1") == {"local": True, "full": full}
            assert ask(in_b, "10.91.0.1") == {"local": False, "full": []}
            with tempfile.TemporaryDirectory(prefix="tachyra-qr-") as folder:
                assert read_qr(qr, folder) == full[0], qr
        finally:
            server.stop()
        server = Server(["-B", "10.91.0.1"], prefix=in_a)  # one address: that one alone
        lines = server.stop()
        assert "Speed page: http://10.91.0.1:%d/" % server.port in lines, lines
        assert not any(l.startswith("From other devices") for l in lines), lines
    finally:
        for ns in "ab":
            subprocess.run(["ip", "netns", "del", tag + ns], capture_output=True)


quiet_and_tests()
addresses_in_namespaces()
print("server output: ok")
