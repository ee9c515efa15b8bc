"""tachyra-cli -s output: nothing while idle, rate lines and one end line for a test; in
network namespaces of its own (root only, else skipped with a word) the addresses for
other devices, the QR code read back by zbarimg, and /addresses, told to this machine only.
Usage: server_output_test.py PATH_TO_TACHYRA_CLI"""
import json, os, re, shutil, subprocess, sys, tempfile, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pykit"))
from tachyra_peers import Server, get_from, veth_namespaces

CLI, RATE = sys.argv[1], re.compile(r"^recv [\d.]+MB/s  send [\d.]+MB/s$")

with Server(CLI, stream=False) as server:
    time.sleep(3.5)  # three meter seconds and more with nothing moving
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
        assert any(RATE.match(l) and "0.00MB/s  send 0.00" not in l for l in server.lines[start:])
        assert sum(l.startswith("Test ended: ") for l in server.lines[start:]) == 1, server.lines
assert server.stderr == "" and "recv 0.00MB/s  send 0.00MB/s" not in server.lines, server.stderr

def read_qr(lines, folder):  # what zbarimg reads from the half blocks, 6 pixels a module
    halves = {"\u2588": "11", "\u2580": "10", "\u2584": "01", " ": "00"}
    rows = [[halves[ch][i] for ch in line] for line in lines for i in (0, 1)]
    pixels = [" ".join(("255" if v == "1" else "0") for v in row for _ in range(6))
              for row in rows for _ in range(6)]
    with open(os.path.join(folder, "qr.pgm"), "w") as f:
        f.write("P2 %d %d 255\n%s\n" % (len(rows[0]) * 6, len(pixels), "\n".join(pixels)))
    return subprocess.run(["zbarimg", "-q", "--raw", f.name], capture_output=True,
                          text=True).stdout.strip()

if not shutil.which("zbarimg"):
    print("address case skipped: it needs zbarimg (zbar-tools)")
    sys.exit(0)
with veth_namespaces() as peers:
    if peers is None:
        sys.exit(0)
    in_a, in_b = peers
    with Server(CLI, "--qr", bind=None, prefix=in_a, stream=False) as server:
        p = server.port
        full = ["http://10.91.0.1:%d/full" % p, "http://[fd00:91::1]:%d/full" % p]
        at = server.lines.index(server.wait(lambda l: l == "QR code of %s:" % full[0], "QR")) + 1
        height = lambda: (len(server.lines[at]) + 1) // 2  # modules and quiet zone: square
        server.wait(lambda l: len(server.lines) - at >= height(), "QR lines", at)
        others = [l for l in server.lines if l.startswith("From other devices: ")]
        assert others == ["From other devices: %s  %s" % (f[:-4], f) for f in full], others
        ask = lambda prefix, host: json.loads(get_from(prefix, host, p, "/addresses")[1])
        assert ask(in_a, "127.0.0.1") == ask(in_a, "10.91.0.1") == {"local": True, "full": full}
        assert ask(in_b, "10.91.0.1") == {"local": False, "full": []}
        with tempfile.TemporaryDirectory(prefix="tachyra-qr-") as folder:
            assert read_qr(server.lines[at:at + height()], folder) == full[0]
    assert server.stderr == "", server.stderr
