"""tachyra-cli -s against peers written in Python. websocket: a WebSocket client (the
websockets package) streams frames and closes. assets: raw GETs while replacement files
beside a copy of the executable, in a temporary directory, come and go.
Usage: cli_server_test.py websocket|assets PATH_TO_TACHYRA_CLI [SOURCE_DIR]
"""
import asyncio, os, pathlib, shutil, signal, socket, string, subprocess, sys, tempfile


class CliServer:
    """tachyra-cli -s on 127.0.0.1 (any free port). Reads of its output block: CTest's
    timeout for the test bounds them."""

    def __init__(self, cli_path):
        self.proc = subprocess.Popen([cli_path, "-s", "-B", "127.0.0.1", "-p", "0"],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.port = next(int(line.rsplit(" ", 1)[1]) for line in self.lines()
                         if line.startswith("Tachyra server listening on port "))

    def lines(self):
        for line in self.proc.stdout:
            yield line.rstrip("\n")
        raise RuntimeError("tachyra-cli ended, exit status %s" % self.proc.wait())

    def wait_send_idle(self):
        """Waits until the meter shows two samples in a row with nothing sent."""
        idle = 0
        for line in self.lines():
            if line.startswith("recv "):
                idle = idle + 1 if line.endswith("send 0.00MB/s") else 0
                if idle == 2:
                    return

    def run(self, check):
        """Runs check(self), then stops the server, which must end cleanly."""
        try:
            check(self)
        finally:
            self.proc.send_signal(signal.SIGINT)  # both do nothing once it has ended
            try:
                status = self.proc.wait(timeout=30)
            finally:
                self.proc.kill()
        assert status == 0, "tachyra-cli exit status %s" % status


def check_websocket(server):
    import websockets

    # A close timeout far beyond the test's own limit: close() can only return early
    # because the server ended the connection after reading our close frame. The
    # unbounded queue keeps the client reading while it waits, so it sees that end
    # (a full queue would pause reading and hide it).
    async def stream_and_close():
        async with websockets.connect("ws://127.0.0.1:%d/" % server.port, max_size=None,
                                      max_queue=None, close_timeout=3600,
                                      ping_interval=None) as ws:
            for i in range(20):
                message = await ws.recv()
                assert isinstance(message, str) and len(message) == 65127 and \
                    set(message) <= set(string.digits + string.ascii_lowercase), \
                    "frame %d: %r" % (i, message[:40])
            await ws.close()
            # The server answers the close with its own, same code, and an orderly end.
            assert ws.close_rcvd is not None and ws.close_rcvd.code == 1000, ws.close_rcvd

    server.wait_send_idle()
    asyncio.run(stream_and_close())
    server.wait_send_idle()  # the session is gone: the meter falls back to nothing sent


def check_assets(server, folder, source):
    def fetch(path):  # everything the server sends before it closes
        with socket.create_connection(("127.0.0.1", server.port), timeout=20) as s:
            s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % path).encode())
            return s.makefile("rb").read()

    resource = lambda name: pathlib.Path(source, "resources", name).read_bytes()
    text = "<html>替换页 ✓ 😀</html>"
    plain = "<html>替换页 plain</html>".encode("gbk")
    html, full = ("/", "text/html"), ("/full", "text/html")
    js, buttons = ("/echarts.min.js", "text/javascript"), ("/buttons.css", "text/css")
    # (file, its bytes or None to remove it, request, expected body)
    steps = [
        ("websocket.html", None, html, resource("websocket.html")),
        ("websocket.html", plain, html, plain),  # no mark: byte for byte
        ("websocket.html", b"\xef\xbb\xbf" + text.encode(), html, text.encode()),
        ("websocket.html", b"\xff\xfe" + text.encode("utf-16-le"), html, text.encode()),
        ("websocket.html", b"\xef\xbb\xbf", html, resource("websocket.html")),  # no text
        ("websocket.html", None, html, resource("websocket.html")),
        ("buttons.css", b".button { color: red; }\n", buttons, b".button { color: red; }\n"),
        ("buttons.css", None, ("/Buttons.css", "text/css"), resource("buttons.css")),
        ("echarts.min.js", b"window.echarts = null;\n", js, b"window.echarts = null;\n"),
        ("full.html", b"<html>replaced</html>", full, b"<html>replaced</html>"),
        ("full.html", None, full, resource("full.html")),
        ("index.html", b"<html></html>", ("/index.html", None), None),  # no new paths
    ]
    for name, data, (path, content_type), body in steps:
        file = pathlib.Path(folder, name)
        if data is None:
            file.unlink(missing_ok=True)
        else:
            file.write_bytes(data)
        expected = b"" if body is None else (
            ("HTTP/1.1 200 OK\r\nContent-Type: %s; charset=utf-8\r\nContent-Length: %d"
             "\r\nConnection: close\r\n\r\n" % (content_type, len(body))).encode() + body)
        answer = fetch(path)
        assert answer == expected, "%s after writing %s: %r" % (path, name, answer[:200])


def main():
    mode, cli = sys.argv[1], sys.argv[2]
    if mode == "websocket":
        CliServer(cli).run(check_websocket)
    else:
        with tempfile.TemporaryDirectory(prefix="tachyra-replace-") as folder:
            shutil.copy2(cli, os.path.join(folder, "tachyra-cli"))
            CliServer(os.path.join(folder, "tachyra-cli")).run(
                lambda server: check_assets(server, folder, sys.argv[3]))


if __name__ == "__main__":
    main()
