"""What tachyra-cli -s prints: nothing while idle, rate lines and one end line for a test,
and, in network namespaces of its own (needs root; skipped with a word elsewhere), the
addresses for other devices, its QR code read back by zbarimg, and /addresses, which
tells them to a browser on the server's machine alone.

Usage: server_output_test.py PATH_TO_TACHYRA_CLI
"""
import json, os, re, shutil, signal, subprocess, sys, tempfile, time, urllib.request

CLI = sys.argv[1]
RATE = re.compile(r"^recv [\d.]+MB/s  send [\d.]+MB/s$")


class Server:
    """tachyra-cli -s with its lines read as they come (each read bounded by a deadline)."""

    def __init__(self, args, prefix=()):
        self.proc = subprocess.Popen([*prefix, CLI, "-s", "-p", "0", *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        os.set_blocking(self.proc.stdout.fileno(), False)
        self.lines, self.rest = [], ""
        port = self.wait(lambda l: l.startswith("Tachyra server listening on port "), "port")
        self.port = int(port.rsplit(" ", 1)[1])

    def pump(self):
        try:
            self.rest += os.read(self.proc.stdout.fileno(), 1 << 16).decode()
        except BlockingIOError:
            pass
        *done, self.rest = self.rest.split("\n")
        self.lines += done

    def wait(self, pred, what, seconds=20, seen=0):
        """The first line from index seen on that passes pred."""
        for _ in range(int(seconds * 20)):
            self.pump()
            for line in self.lines[seen:]:
                if pred(line):
                    return line
            seen = len(self.lines)
            time.sleep(0.05)
        raise AssertionError("no %s within %s s: %r" % (what, seconds, self.lines))

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        os.set_blocking(self.proc.stdout.fileno(), True)
        out, err = self.proc.communicate(timeout=30)
        self.lines += (self.rest + out.decode()).splitlines()
        assert self.proc.returncode == 0 and err == b"", (self.proc.returncode, err)
        return self.lines


def run_client(port, *args, prefix=(), host="127.0.0.1"):
    subprocess.run([*prefix, CLI, "-c", host, "-p", str(port), *args], check=True,
                   stdout=subprocess.DEVNULL, timeout=60)


def quiet_and_tests():
    server = Server(["-B", "127.0.0.1"])
    try:
        time.sleep(3.5)  # three meter seconds and more with nothing moving
        server.pump()
        assert not any(RATE.match(l) for l in server.lines), server.lines
        # (client options, the end line's kind and direction)
        for args, part in [(("-t", "2", "-P", "4"), "raw download"),
                           (("-t", "1", "-P", "3", "--upload"), "raw upload")]:
            start = len(server.lines)
            run_client(server.port, *args)
            end = server.wait(lambda l: l.startswith("Test ended: "), "end line", seen=start)
            got = re.match(r"^Test ended: 127\.0\.0\.1, (raw \w+), ([\d.]+) s, ([\d.]+) MB/s$", end)
            assert got and got.group(1) == part and float(got.group(3)) > 0, end
            assert 0.8 < float(got.group(2)) < 30, end  # the whole test, not one connection
            time.sleep(1.5)  # the meter's last second of the test
            server.pump()
            mine = server.lines[start:]
            assert any(RATE.match(l) and l != "recv 0.00MB/s  send 0.00MB/s" for l in mine), mine
            assert sum(l.startswith("Test ended: ") for l in mine) == 1, mine
    finally:
        lines = server.stop()
    assert not any(l == "recv 0.00MB/s  send 0.00MB/s" for l in lines), lines


def qr_modules(lines):
    """The light/dark grid drawn with half blocks (light is drawn)."""
    tops = {"\u2588": (1, 1), "\u2580": (1, 0), "\u2584": (0, 1), " ": (0, 0)}
    grid = []
    for line in lines:
        pairs = [tops[ch] for ch in line]
        grid += [[p[0] for p in pairs], [p[1] for p in pairs]]
    return grid


def decode_qr(grid, folder):
    """What zbarimg reads from the grid drawn 6 pixels a module, or None without zbarimg."""
    if shutil.which("zbarimg") is None:
        return None
    scale, width = 6, len(grid[0])
    pixels = []
    for row in grid:
        line = " ".join(("255" if v else "0") for v in row for _ in range(scale))
        pixels += [line] * scale
    path = os.path.join(folder, "qr.pgm")
    with open(path, "w") as f:
        f.write("P2 %d %d 255\n%s\n" % (width * scale, len(grid) * scale, "\n".join(pixels)))
    read = subprocess.run(["zbarimg", "-q", "--raw", path], capture_output=True, text=True)
    return read.stdout.strip()


def finder_at(grid, x, y):
    """A finder pattern (dark ring, light ring, dark 3x3) with its top left at x, y."""
    ring = lambda d: all(not grid[y + j][x + i] for i in range(d, 7 - d) for j in (d, 6 - d)) \
        and all(not grid[y + j][x + i] for j in range(d, 7 - d) for i in (d, 6 - d))
    light = all(grid[y + j][x + i] for i in range(1, 6) for j in (1, 5))
    return ring(0) and light and ring(2) and not grid[y + 3][x + 3]


def addresses_in_namespaces():
    if os.geteuid() != 0 or shutil.which("ip") is None:
        print("address case skipped: making network namespaces needs root and ip")
        return
    tag = "tso%d" % os.getpid()
    ns_a, ns_b = tag + "a", tag + "b"
    sh = lambda *cmds: [subprocess.run(c.split(), check=True, capture_output=True) for c in cmds]
    try:
        sh("ip netns add " + ns_a, "ip netns add " + ns_b,
           "ip link add %sx type veth peer name %sy" % (tag, tag),
           "ip link set %sx netns %s" % (tag, ns_a), "ip link set %sy netns %s" % (tag, ns_b))
        for ns, end, n in ((ns_a, "x", 1), (ns_b, "y", 2)):
            run = "ip netns exec %s ip " % ns
            sh(run + "link set lo up", run + "addr add 10.91.0.%d/24 dev %s%s" % (n, tag, end),
               run + "-6 addr add fd00:91::%d/64 dev %s%s nodad" % (n, tag, end),
               run + "link set %s%s up" % (tag, end))
        in_a, in_b = ("ip", "netns", "exec", ns_a), ("ip", "netns", "exec", ns_b)
        server = Server(["--qr"], prefix=in_a)
        try:
            p = server.port
            head = "QR code of http://10.91.0.1:%d/full:" % p
            server.wait(lambda l: l == head, "QR code")
            at = server.lines.index(head) + 1
            server.wait(lambda l: False if len(server.lines) <= at else
                        len(server.lines) - at >= (len(server.lines[at]) + 1) // 2, "QR lines")
            width = len(server.lines[at])
            qr = server.lines[at:at + (width + 1) // 2]
            others = [l for l in server.lines if l.startswith("From other devices: ")]
            want = ["From other devices: http://%s:%d/  http://%s:%d/full" % (h, p, h, p)
                    for h in ("10.91.0.1", "[fd00:91::1]")]
            assert others == want, others  # link-local fe80:: and loopback left out
            ask = lambda prefix, host: json.loads(subprocess.run(
                [*prefix, sys.executable, "-c", "import sys, urllib.request; sys.stdout.write("
                 "urllib.request.urlopen(sys.argv[1], timeout=20).read().decode())",
                 "http://%s:%d/addresses" % (host, p)], capture_output=True, text=True,
                check=True, timeout=60).stdout)
            full = ["http://10.91.0.1:%d/full" % p, "http://[fd00:91::1]:%d/full" % p]
            assert ask(in_a, "127.0.0.1") == {"local": True, "full": full}
            assert ask(in_a, "10.91.0.1") == {"local": True, "full": full}
            assert ask(in_b, "10.91.0.1") == {"local": False, "full": []}
            grid = qr_modules(qr)
            size = width - 8
            assert all(finder_at(grid, x, y) for x, y in ((4, 4), (4 + size - 7, 4), (4, 4 + size - 7)))
            assert all(all(grid[y][x] for x in range(len(grid[0]))) for y in range(4)), "quiet zone"
            with tempfile.TemporaryDirectory(prefix="tachyra-qr-") as folder:
                text = decode_qr(grid[:width], folder)
            assert text in (None, full[0]), text
            print("QR code read back:", text if text else "no zbarimg, finder patterns only")
        finally:
            server.stop()
        # One address given: that one alone.
        server = Server(["-B", "10.91.0.1"], prefix=in_a)
        lines = server.stop()
        assert "Speed page: http://10.91.0.1:%d/" % server.port in lines, lines
        assert not any(l.startswith("From other devices") for l in lines), lines
    finally:
        for ns in (ns_a, ns_b):
            subprocess.run(["ip", "netns", "del", ns], capture_output=True)


quiet_and_tests()
addresses_in_namespaces()
print("server output: ok")
