"""tachyra-cli -s answering raw GETs while replacement files beside a copy of it, in a
temporary directory, are picked up, dropped and re-read (their decoding: assets_test.cpp).
Usage: cli_server_test.py PATH_TO_TACHYRA_CLI SOURCE_DIR"""
import os, pathlib, shutil, socket, sys, tempfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pykit"))
from tachyra_peers import Server

resource = lambda name: pathlib.Path(sys.argv[2], "resources", name).read_bytes()
plain = "<html>替换页 plain</html>".encode("gbk")  # no mark: served byte for byte
# (file, its bytes or None to remove it, path, content type, expected body)
STEPS = [
    ("websocket.html", plain, "/", "text/html", plain),
    ("websocket.html", None, "/", "text/html", resource("websocket.html")),
    ("buttons.css", b".button {}\n", "/buttons.css", "text/css", b".button {}\n"),
    ("buttons.css", None, "/Buttons.css", "text/css", resource("buttons.css")),
    ("echarts.min.js", b"echarts = 0;\n", "/echarts.min.js", "text/javascript", b"echarts = 0;\n"),
    ("full.html", b"<html>replaced</html>", "/full", "text/html", b"<html>replaced</html>"),
    ("full.html", None, "/full", "text/html", resource("full.html")),
    ("index.html", b"<html></html>", "/index.html", None, None),  # no new paths
]

with tempfile.TemporaryDirectory(prefix="tachyra-replace-") as folder:
    cli = shutil.copy2(sys.argv[1], pathlib.Path(folder, "tachyra-cli"))
    with Server(cli) as server:
        for name, data, path, content_type, body in STEPS:
            file = pathlib.Path(folder, name)
            file.write_bytes(data) if data is not None else file.unlink(missing_ok=True)
            with socket.create_connection(("127.0.0.1", server.port), timeout=20) as s:
                s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % path).encode())
                answer = s.makefile("rb").read()  # everything sent before the close
            expected = b"" if body is None else (
                ("HTTP/1.1 200 OK\r\nContent-Type: %s; charset=utf-8\r\nContent-Length: %d"
                 "\r\nConnection: close\r\n\r\n" % (content_type, len(body))).encode() + body)
            assert answer == expected, "%s after writing %s: %r" % (path, name, answer[:200])
