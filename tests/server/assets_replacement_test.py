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
    """One raw GET; returns (head, body) as bytes, or (b"", b"") when nothing came back."""
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % path).encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    if not data:
        return b"", b""
    head, _, body = data.partition(b"\r\n\r\n")
    return head, body


def check(port, path, expected_body, content_type):
    head, body = fetch(port, path)
    expected_head = ("HTTP/1.1 200 OK\r\nContent-Type: %s; charset=utf-8\r\n"
                     "Content-Length: %d\r\nConnection: close" % (content_type, len(expected_body)))
    assert head == expected_head.encode(), "%s: head %r" % (path, head)
    assert body == expected_body, "%s: body of %d bytes, expected %d" % (
        path, len(body), len(expected_body))


def main():
    cli, source = sys.argv[1], sys.argv[2]
    with open(os.path.join(source, "resources", "websocket.html"), "rb") as f:
        builtin_page = f.read()
    with open(os.path.join(source, "resources", "buttons.css"), "rb") as f:
        builtin_css = f.read()
    with tempfile.TemporaryDirectory(prefix="tachyra-replace-") as folder:
        copy = os.path.join(folder, "tachyra-cli")
        shutil.copy2(cli, copy)
        page = os.path.join(folder, "websocket.html")
        server = CliServer(copy)
        try:
            port = server.port
            check(port, "/", builtin_page, "text/html")

            # No mark: byte for byte, whatever the bytes are.
            plain = "<html>替换页 plain</html>".encode("gbk")
            with open(page, "wb") as f:
                f.write(plain)
            check(port, "/", plain, "text/html")

            # UTF-8 mark: served as UTF-8 without the mark.
            text = "<html>替换页 ✓ 😀</html>"
            with open(page, "wb") as f:
                f.write(b"\xef\xbb\xbf" + text.encode("utf-8"))
            check(port, "/", text.encode("utf-8"), "text/html")

            # UTF-16LE mark: converted to UTF-8.
            with open(page, "wb") as f:
                f.write(b"\xff\xfe" + text.encode("utf-16-le"))
            check(port, "/", text.encode("utf-8"), "text/html")

            # A mark alone is no text: the built-in page again.
            with open(page, "wb") as f:
                f.write(b"\xef\xbb\xbf")
            check(port, "/", builtin_page, "text/html")

            os.remove(page)
            check(port, "/", builtin_page, "text/html")

            css = b".button { color: red; }\n"
            with open(os.path.join(folder, "buttons.css"), "wb") as f:
                f.write(css)
            check(port, "/buttons.css", css, "text/css")
            os.remove(os.path.join(folder, "buttons.css"))
            check(port, "/Buttons.css", builtin_css, "text/css")

            js = b"window.echarts = null;\n"
            with open(os.path.join(folder, "echarts.min.js"), "wb") as f:
                f.write(js)
            check(port, "/echarts.min.js", js, "text/javascript")

            # Replacement files never add paths.
            with open(os.path.join(folder, "index.html"), "wb") as f:
                f.write(b"<html></html>")
            assert fetch(port, "/index.html") == (b"", b""), "index.html was answered"
        finally:
            status = server.stop()
        assert status == 0, "tachyra-cli exit status %s" % status


if __name__ == "__main__":
    main()
