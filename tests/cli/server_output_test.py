"""tachyra-cli -s output: nothing while idle, rate lines and one end line for a test; in
network namespaces of its own (root only, else skipped with a word) the addresses for
other devices, the QR code read back by zbarimg, and /addresses, told to this machine only.
Usage: server_output_test.py PATH_TO_TACHYRA_CLI"""
import json, os, re, shutil, signal, subprocess, sys, tempfile, time

CLI, RATE = sys.argv[1], re.compile(r"^recv [\d.]+MB/s  send [\d.]+MB/s$")

class Server:
    def __init__(self, args, prefix=()):
        self.proc = subprocess.Popen([*prefix, CLI, "-s", "-p", "0", *args], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        os.set_blocking(self.proc.stdout.fileno(), False)
        self.lines, self.rest = [], ""
        self.port = int(self.wait(lambda l: "listening on port" in l, "port").split()[-1])

    def pump(self):
        self.rest += (self.proc.stdout.read() or b"").decode()
        *done, self.rest = self.rest.split("\n")
        self.lines += done

    def wait(self, pred, what, seen=0):  # the first line from seen on that passes, within 20 s
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
        assert self.proc.returncode == 0 and err == b"", (self.proc.returncode, err)
        return self.lines + (self.rest + out.decode()).splitlines()

server = Server(["-B", "127.0.0.1"])
try:
    time.sleep(3.5)  # three meter seconds and more with nothing moving
    server.pump()
    assert not any(RATE.match(l) for l in server.lines), server.lines
    for args, part in [(("-t", "2", "-P", "4"), "raw download"), (("-t", "1", "--upload"), "raw upload")]:
        start = len(server.lines)
        subprocess.run([CLI, "-c", "127.0.0.1", "-p", str(server.port), *args], check=True,
                       stdout=subprocess.DEVNULL, timeout=60)
        end = server.wait(lambda l: l.startswith("Test ended: "), "end line", start)
        got = re.match(r"^Test ended: 127\.0\.0\.1, (raw \w+), ([\d.]+) s, ([\d.]+) MB/s$", end)
        # One line for the whole test, as long as the test and not one connection.
        assert got and got.group(1) == part and float(got.group(3)) > 0 and 0.8 < float(got.group(2)) < 30, end
        time.sleep(1.5)  # the meter's last second of the test
        server.pump()
        assert any(RATE.match(l) and "0.00MB/s  send 0.00" not in l for l in server.lines[start:])
        assert sum(l.startswith("Test ended: ") for l in server.lines[start:]) == 1, server.lines
finally:
    assert "recv 0.00MB/s  send 0.00MB/s" not in server.stop()

def read_qr(lines, folder):  # what zbarimg reads from the half blocks, 6 pixels a module
    halves = {"\u2588": "11", "\u2580": "10", "\u2584": "01", " ": "00"}
    rows = [[halves[ch][i] for ch in line] for line in lines for i in (0, 1)]
    pixels = [" ".join(("255" if v == "1" else "0") for v in row for _ in range(6))
              for row in rows for _ in range(6)]
    with open(os.path.join(folder, "qr.pgm"), "w") as f:
        f.write("P2 %d %d 255\n%s\n" % (len(rows[0]) * 6, len(pixels), "\n".join(pixels)))
    return subprocess.run(["zbarimg", "-q", "--raw", f.name], capture_output=True,
                          text=True).stdout.strip()

if os.geteuid() != 0 or not shutil.which("ip") or not shutil.which("zbarimg"):
    print("address case skipped: it needs root, ip and zbarimg (zbar-tools)")
    sys.exit(0)
tag = "tso%d" % os.getpid()
in_a, in_b = ("ip", "netns", "exec", tag + "a"), ("ip", "netns", "exec", tag + "b")
sh = lambda *cmds: [subprocess.run(c.split(), check=True, capture_output=True) for c in cmds]
try:
    sh("ip netns add %sa" % tag, "ip netns add %sb" % tag,
       "ip link add %sx netns %sa type veth peer name %sy netns %sb" % (tag, tag, tag, tag))
    for ns, n, dev in (("a", 1, tag + "x"), ("b", 2, tag + "y")):
        ip = "ip netns exec %s%s ip " % (tag, ns)
        sh(ip + "link set lo up", ip + "addr add 10.91.0.%d/24 dev %s" % (n, dev),
           ip + "-6 addr add fd00:91::%d/64 dev %s nodad" % (n, dev),
           ip + "link set %s up" % dev)  # which gives it a link-local fe80:: address too
    server = Server(["--qr"], prefix=in_a)
    try:
        p = server.port
        full = ["http://10.91.0.1:%d/full" % p, "http://[fd00:91::1]:%d/full" % p]
        at = server.lines.index(server.wait(lambda l: l == "QR code of %s:" % full[0], "QR")) + 1
        height = lambda: (len(server.lines[at]) + 1) // 2  # modules and quiet zone: square
        server.wait(lambda l: len(server.lines) - at >= height(), "QR lines", at)
        others = [l for l in server.lines if l.startswith("From other devices: ")]
        assert others == ["From other devices: %s  %s" % (f[:-4], f) for f in full], others
        ask = lambda prefix, host: json.loads(subprocess.run(
            [*prefix, sys.executable, "-c", "import sys, urllib.request as u; print(u.urlopen("
             "sys.argv[1], timeout=20).read().decode())", "http://%s:%d/addresses" % (host, p)],
            capture_output=True, text=True, check=True, timeout=60).stdout)
        assert ask(in_a, "127.0.0.1") == ask(in_a, "10.91.0.1") == {"local": True, "full": full}
        assert ask(in_b, "10.91.0.1") == {"local": False, "full": []}
        with tempfile.TemporaryDirectory(prefix="tachyra-qr-") as folder:
            assert read_qr(server.lines[at:at + height()], folder) == full[0]
    finally:
        server.stop()
finally:
    for ns in "ab":
        subprocess.run(["ip", "netns", "del", tag + ns], capture_output=True)
