"""Many sessions against one tachyra-cli server, for sessions.sh and reliability.sh.

The load comes from tachyra-session-load (one thread, epoll); the server's threads, resident
memory and descriptors are read from /proc while it runs. Linux only.
Usage: load_bench.py sessions CLI LOAD [N] [SECONDS]
       load_bench.py reliability CLI LOAD
"""
import os
import resource
import signal
import subprocess
import sys
import threading
import time


def figures(pid):
    """(threads, RSS in MiB, open descriptors) of a running process."""
    threads = rss_kib = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("Threads:"):
                threads = int(line.split()[1])
            elif line.startswith("VmRSS:"):
                rss_kib = int(line.split()[1])
    return threads, rss_kib / 1024.0, len(os.listdir("/proc/%d/fd" % pid))


def show(label, fig):
    print("  %-44s threads %6d   RSS %7.1f MiB   descriptors %6d" % (label, fig[0], fig[1], fig[2]))


class Server:
    """tachyra-cli -s under prlimit (prlimit execs it, so the pid is the server's)."""

    def __init__(self, cli, nofile, extra=()):
        self.proc = subprocess.Popen(["prlimit", "--nofile=" + nofile, cli, "-s", "-B",
                                      "127.0.0.1", "-p", "0"] + list(extra),
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.proc.stdout.readline().rsplit(" ", 1)[1])
        # Whatever else it prints must not fill the pipe and block it.
        threading.Thread(target=self.proc.stdout.read, daemon=True).start()
        self.pid = self.proc.pid
        self.peak = (0, 0.0, 0)
        self._sampling = False

    def figures(self):
        return figures(self.pid)

    def start_sampling(self):
        self.peak = (0, 0.0, 0)
        self._sampling = True
        self._thread = threading.Thread(target=self._sample, daemon=True)
        self._thread.start()

    def stop_sampling(self):
        self._sampling = False
        self._thread.join()
        return self.peak

    def _sample(self):
        while self._sampling:
            try:
                fig = figures(self.pid)
            except (OSError, ValueError):
                return
            self.peak = tuple(max(a, b) for a, b in zip(self.peak, fig))
            time.sleep(0.2)

    def settle(self, threads, seconds=20.0):
        """Waits until the server is down to the given thread count (or the time is up)."""
        end = time.monotonic() + seconds
        while time.monotonic() < end and self.figures()[0] > threads:
            time.sleep(0.1)
        time.sleep(0.5)
        return self.figures()

    def stop(self):
        """SIGINT; the seconds until the process has left."""
        start = time.monotonic()
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait()
        return time.monotonic() - start


class Load:
    """tachyra-session-load: N download or idle connections, held until close()."""

    def __init__(self, load, port, n, seconds, mode="download"):
        # One thread against all of the server's: given a higher priority where allowed,
        # so that the server, not a starved load generator, sets the pace.
        nice = ["nice", "-n", "-10"] if os.geteuid() == 0 else []
        self.proc = subprocess.Popen(nice + [load, str(port), str(n), str(seconds), mode],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.connected = self.proc.stdout.readline().strip()

    def result(self):
        """After the run: sessions with data, bytes, connections still open."""
        values = {}
        for _ in range(3):
            line = self.proc.stdout.readline().strip()
            key, value = line.rsplit(" ", 1)
            values[key] = int(value)
        return values

    def close(self):
        self.proc.stdin.write("close\n")
        self.proc.stdin.flush()
        self.proc.stdout.readline()
        self.proc.wait()


def sessions(cli, load, n, seconds):
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    if hard != resource.RLIM_INFINITY and hard < n + 32:
        print("the hard descriptor limit here is %d: scaling down from %d to %d sessions"
              % (hard, n, hard - 32))
        n = hard - 32
    print("%d download sessions for %d s against one server started under "
          "prlimit --nofile=1024:20000" % (n, seconds))
    srv = Server(cli, "1024:20000")
    time.sleep(0.3)
    base = srv.figures()
    show("idle server", base)

    srv.start_sampling()
    ld = Load(load, srv.port, n, seconds)
    r = ld.result()
    peak = srv.stop_sampling()
    print("  %s; sessions with data %d of %d; %.0f MiB read in %d s"
          % (ld.connected, r["sessions with data"], n, r["bytes"] / 1048576.0, seconds))
    show("peak while they ran", peak)
    ld.close()
    show("after they left", srv.settle(base[0]))

    ld = Load(load, srv.port, n, 2)
    r = ld.result()
    held = srv.figures()
    print("  again: %s; sessions with data %d, open %d" % (ld.connected, r["sessions with data"],
                                                           r["open"]))
    show("before the stop", held)
    print("  stop (SIGINT to exit) with %d sessions open: %.2f s" % (r["open"], srv.stop()))
    ld.close()


def reliability(cli, load):
    # The cap: a server held to 1024 descriptors (the raise cannot go above the hard limit).
    srv = Server(cli, "1024:1024")
    ld = Load(load, srv.port, 1100, 3, "idle")
    r = ld.result()
    print("connections held at the cap (limit 1024, 1,100 idle connections): %d; %s"
          % (r["open"], ld.connected))
    ld.close()
    srv.stop()

    srv = Server(cli, "1024:20000")
    time.sleep(0.3)
    base = srv.figures()
    print("idle connections against one server (soft limit 1024, raised by the server):")
    show("no connection", base)
    for n in (1000, 4000):
        ld = Load(load, srv.port, n, 2, "idle")
        r = ld.result()
        show("%d idle connections (%d open)" % (n, r["open"]), srv.figures())
        ld.close()
        show("after they left", srv.settle(base[0]))
    ld = Load(load, srv.port, 500, 2)
    r = ld.result()
    print("stop (SIGINT to exit) with %d streaming sessions (%d with data): %.2f s"
          % (r["open"], r["sessions with data"], srv.stop()))
    ld.close()


def main():
    what, cli, load = sys.argv[1], sys.argv[2], sys.argv[3]
    if what == "sessions":
        n = int(sys.argv[4]) if len(sys.argv) > 4 else 19000
        seconds = int(sys.argv[5]) if len(sys.argv) > 5 else 10
        sessions(cli, load, n, seconds)
    else:
        reliability(cli, load)


if __name__ == "__main__":
    main()
