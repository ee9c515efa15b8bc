"""Starts tachyra-cli as a test server on 127.0.0.1 (any free port) for the Python tests."""
import os
import queue
import signal
import subprocess
import threading
import time


class CliServer:
    def __init__(self, cli_path):
        self.proc = subprocess.Popen(
            [cli_path, "-s", "-B", "127.0.0.1", "-p", "0"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()
        self.port = None
        deadline = time.monotonic() + 30
        while self.port is None:
            line = self.next_line(deadline)
            if line.startswith("Tachyra server listening on port "):
                self.port = int(line.rsplit(" ", 1)[1])

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def next_line(self, deadline):
        """The server's next output line; raises when it ends or the deadline passes."""
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("no output from tachyra-cli in time")
        line = self.lines.get(timeout=remaining)
        if line is None:
            raise RuntimeError("tachyra-cli ended, exit status %s" % self.proc.wait())
        return line

    def wait_send_idle(self, seconds=20):
        """Waits until the meter shows two samples in a row with nothing sent."""
        deadline = time.monotonic() + seconds
        idle = 0
        while idle < 2:
            line = self.next_line(deadline)
            if line.startswith("recv "):
                idle = idle + 1 if line.endswith("send 0.00MB/s") else 0

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
        try:
            return self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise
