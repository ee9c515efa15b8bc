"""An independent WebSocket client (the websockets package) against tachyra-cli -s.

Usage: websocket_client_test.py PATH_TO_TACHYRA_CLI
"""
import asyncio
import string
import sys

import websockets

from cli_server import CliServer

FRAME_PAYLOAD = 65127
FRAMES = 20
ALLOWED = set(string.digits + string.ascii_lowercase)


async def stream_and_close(port):
    # A close timeout far beyond the test's own limit: close() can only return early
    # because the server ended the connection after reading our close frame. The
    # unbounded queue keeps the client reading while it waits, so it sees that end
    # (a full queue would pause reading and hide it).
    async with websockets.connect("ws://127.0.0.1:%d/" % port, max_size=None,
                                  max_queue=None, close_timeout=3600,
                                  ping_interval=None) as ws:
        for i in range(FRAMES):
            message = await ws.recv()
            assert isinstance(message, str), "frame %d is not a text frame" % i
            assert len(message) == FRAME_PAYLOAD, "frame %d has %d characters" % (i, len(message))
            assert set(message) <= ALLOWED, "frame %d has unexpected characters" % i
        await ws.close()
        # The server answers the close with its own, same code, and an orderly end.
        assert ws.close_rcvd is not None, "the server sent no close frame"
        assert ws.close_rcvd.code == 1000, "close code %s" % ws.close_rcvd.code
        return ws.close_rcvd.code


def main():
    server = CliServer(sys.argv[1])
    try:
        server.wait_send_idle()
        code = asyncio.run(stream_and_close(server.port))
        print("the server answered the close with close code %s" % code)
        # The session is gone: the server's meter falls back to nothing sent.
        server.wait_send_idle()
    finally:
        status = server.stop()
    assert status == 0, "tachyra-cli exit status %s" % status


if __name__ == "__main__":
    main()
