"""Replacement files beside the executable are picked up and dropped per request.

Runs a copy of tachyra-cli from a temporary directory, so that the files placed beside
it cannot disturb other tests.
Usage: assets_replacement_test.py PATH_TO_TACHYRA_CLI SOURCE_DIR
"""
import os
import shutil
import socket
import sys
import tempfile

from cli_server import CliServer


def fetch(port, path):
    """One raw GET; returns everything the server sent before it closed."""
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % path).encode())
        data = b""
        while chunk := s.recv(65536):
            data += chunk
    return data


def main():
    cli, source = sys.argv[1], sys.argv[2]
    with open(os.path.join(source, "resources", "websocket.html"), "rb") as f:
        page = f.read()
    with open(os.path.join(source, "resources", "buttons.css"), "rb") as f:
        css = f.read()
    with open(os.path.join(source, "resources", "full.html"), "rb") as f:
        full_page = f.read()
    text = "<html>替换页 ✓ 😀</html>"
    plain = "<html>替换页 plain</html>".encode("gbk")
    html, js = ("/", "text/html"), ("/echarts.min.js", "text/javascript")
    buttons, upper = ("/buttons.css", "text/css"), ("/Buttons.css", "text/css")
    full = ("/full", "text/html")
    # (file, its bytes or None to remove it, request, expected body)
    steps = [
        ("websocket.html", None, html, page),
        ("websocket.html", plain, html, plain),  # no mark: byte for byte
        ("websocket.html", b"\xef\xbb\xbf" + text.encode(), html, text.encode()),
        ("websocket.html", b"\xff\xfe" + text.encode("utf-16-le"), html, text.encode()),
        ("websocket.html", b"\xef\xbb\xbf", html, page),  # a mark alone is no text
        ("websocket.html", None, html, page),
        ("buttons.css", b".button { color: red; }\n", buttons, b".button { color: red; }\n"),
        ("buttons.css", None, upper, css),
        ("echarts.min.js", b"window.echarts = null;\n", js, b"window.echarts = null;\n"),
        ("full.html", b"<html>replaced</html>", full, b"<html>replaced</html>"),
        ("full.html", None, full, full_page),
        ("index.html", b"<html></html>", ("/index.html", None), None),  # no new paths
    ]
    with tempfile.TemporaryDirectory(prefix="tachyra-replace-") as folder:
        copy = os.path.join(folder, "tachyra-cli")
        shutil.copy2(cli, copy)
        server = CliServer(copy)
        try:
            for name, data, (path, content_type), body in steps:
                file = os.path.join(folder, name)
                if data is None:
                    if os.path.exists(file):
                        os.remove(file)
                else:
                    with open(file, "wb") as f:
                        f.write(data)
                expected = b"" if body is None else (
                    ("HTTP/1.1 200 OK\r\nContent-Type: %s; charset=utf-8\r\nContent-Length: %d"
                     "\r\nConnection: close\r\n\r\n" % (content_type, len(body))).encode() + body)
                answer = fetch(server.port, path)
                assert answer == expected, "%s after writing %s: %r" % (path, name, answer[:200])
        finally:
            status = server.stop()
        assert status == 0, "tachyra-cli exit status %s" % status


if __name__ == "__main__":
    main()
