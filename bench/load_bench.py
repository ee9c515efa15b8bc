"""Many sessions against one tachyra-cli server, for sessions.sh and reliability.sh.

The load comes from tachyra-session-load (one thread, epoll); the server's threads, resident
memory and descriptors are read from /proc while it runs. Every figure is printed, and where
it has a goal, whether the goal is met; nothing here fails a run. Linux only.
Usage: load_bench.py sessions CLI LOAD [N] [SECONDS] [UPLOADS] [WEBSOCKETS]
       load_bench.py reliability CLI LOAD [BURST] [ROUNDS]
RUN (environment) picks the runs, separated by spaces or commas: for sessions "steady" and
"storms" (default both), for reliability "cap idle stop crowd intake" (default all).
"""
import ctypes
import os
import re
import resource
import select
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time

LIBC = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1
IS_ROOT = os.geteuid() == 0


def die_with_parent():
    """In a child before exec: killed when this script ends, however it ends."""
    LIBC.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


CHILDREN = []


def spawn(argv, **kwargs):
    """A child process, remembered so that a run that fails half-way leaves none behind."""
    proc = subprocess.Popen(argv, preexec_fn=die_with_parent, **kwargs)
    CHILDREN.append(proc)
    return proc


def end_children():
    for proc in CHILDREN:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    del CHILDREN[:]


def section(table, name, fn, *args):
    """One run of a bench; a run that breaks (a program that hangs or ends early) is
    reported as such and the next one goes on."""
    try:
        fn(*args)
    except (TimeoutError, EOFError, RuntimeError, OSError, KeyError, ValueError) as e:
        print("  %s: not measured: %s: %s" % (name, type(e).__name__, e))
        table.add(name, "not measured (%s)" % type(e).__name__, "-", None)
    finally:
        end_children()


class Lines:
    """The lines a child prints, each waited for with a deadline."""

    def __init__(self, stream):
        self.fd = stream.fileno()
        self.buf = b""

    def readline(self, timeout):
        end = time.monotonic() + timeout
        while b"\n" not in self.buf:
            left = end - time.monotonic()
            if left <= 0:
                raise TimeoutError("no line within %.0f s" % timeout)
            ready, _, _ = select.select([self.fd], [], [], left)
            if not ready:
                continue
            chunk = os.read(self.fd, 65536)
            if not chunk:
                if self.buf:
                    line, self.buf = self.buf, b""
                    return line.decode(errors="replace")
                raise EOFError("the program ended")
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line.decode(errors="replace")

    def pairs(self, timeout):
        """"key value" lines up to "done", as a dict of numbers."""
        values = {}
        end = time.monotonic() + timeout
        while True:
            line = self.readline(max(0.1, end - time.monotonic())).strip()
            if line == "done":
                return values
            key, _, value = line.rpartition(" ")
            try:
                values[key] = float(value) if "." in value else int(value)
            except ValueError:
                values[line] = None


def status_of(pid):
    """Threads, RSS and peak RSS (MiB) of a running process."""
    out = {"threads": 0, "rss": 0.0, "hwm": 0.0}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("Threads:"):
                out["threads"] = int(line.split()[1])
            elif line.startswith("VmRSS:"):
                out["rss"] = int(line.split()[1]) / 1024.0
            elif line.startswith("VmHWM:"):
                out["hwm"] = int(line.split()[1]) / 1024.0
    return out


def figures(pid):
    """(threads, RSS in MiB, open descriptors) of a running process."""
    st = status_of(pid)
    return st["threads"], st["rss"], len(os.listdir("/proc/%d/fd" % pid))


def show(label, fig):
    print("  %-44s threads %6d   RSS %7.1f MiB   descriptors %6d" % (label, fig[0], fig[1], fig[2]))


def per_host_unlimited(cli):
    """The option that lifts the per-address session cap, where the server has one: every
    load here comes from a handful of loopback addresses."""
    try:
        text = subprocess.run([cli, "--help"], capture_output=True, text=True, timeout=10).stdout
    except (OSError, subprocess.TimeoutExpired):
        return []
    return ["--max-sessions-per-host", "0"] if "--max-sessions-per-host" in text else []


class Server:
    """tachyra-cli -s under prlimit (prlimit execs it, so the pid is the server's)."""

    def __init__(self, cli, nofile, extra=()):
        self.proc = spawn(["prlimit", "--nofile=" + nofile, cli, "-s", "-B", "127.0.0.1", "-p",
                           "0"] + list(extra), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.pid = self.proc.pid
        self.lines = Lines(self.proc.stdout)
        first = self.lines.readline(15)
        match = re.search(r"port\D*(\d+)", first)
        if not match:
            raise RuntimeError("the server did not say its port: %r" % first)
        self.port = int(match.group(1))
        self.max_sessions_seen = 0
        # Whatever else it prints must not fill the pipe and block it; --json-stream's
        # interval lines give its session count.
        threading.Thread(target=self._drain, daemon=True).start()
        self.peak = (0, 0.0, 0)
        self._sampling = False
        self._thread = None

    def _drain(self):
        pattern = re.compile(r'"sessions": (\d+)')
        while True:
            try:
                line = self.lines.readline(3600)
            except (EOFError, TimeoutError, OSError, ValueError):
                return
            match = pattern.search(line)
            if match:
                self.max_sessions_seen = max(self.max_sessions_seen, int(match.group(1)))

    def figures(self):
        return figures(self.pid)

    def status(self):
        return status_of(self.pid)

    def start_sampling(self):
        self.peak = (0, 0.0, 0)
        self._sampling = True
        self._thread = threading.Thread(target=self._sample, daemon=True)
        self._thread.start()

    def stop_sampling(self):
        self._sampling = False
        if self._thread:
            self._thread.join()
        return self.peak

    def _sample(self):
        # Threads and memory ten times a second; descriptors (a directory of up to 20,000
        # entries) twice a second.
        count = 0
        while self._sampling:
            try:
                st = status_of(self.pid)
                fds = len(os.listdir("/proc/%d/fd" % self.pid)) if count % 5 == 0 else 0
            except (OSError, ValueError):
                return
            count += 1
            self.peak = (max(self.peak[0], st["threads"]), max(self.peak[1], st["rss"]),
                         max(self.peak[2], fds))
            time.sleep(0.1)

    def settle(self, threads, seconds=20.0):
        """Waits until the server is down to the given thread count (or the time is up)."""
        end = time.monotonic() + seconds
        while time.monotonic() < end and self.figures()[0] > threads:
            time.sleep(0.1)
        time.sleep(0.5)
        return self.figures()

    def stop(self, limit=15.0):
        """SIGINT; the seconds until the process has left (None: it did not within the
        limit and was killed)."""
        start = time.monotonic()
        self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(limit)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None
        return time.monotonic() - start


def load_command(load, args):
    # One thread against all of the server's: given a higher priority where allowed,
    # so that the server, not a starved load generator, sets the pace.
    nice = ["nice", "-n", "-10"] if IS_ROOT else []
    return nice + [load] + [str(a) for a in args]


class Load:
    """tachyra-session-load: N sessions of one kind, held until close()."""

    def __init__(self, load, port, n, seconds, mode="download", extra=(), connect_limit=300):
        self.seconds = seconds
        self.proc = spawn(load_command(load, [port, n, seconds, mode] + list(extra)),
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.lines = Lines(self.proc.stdout)
        self.connected = self.lines.readline(connect_limit).strip()

    def result(self, extra_wait=0):
        """After the run: "sessions with data", "bytes", "open" and the rest."""
        return self.lines.pairs(self.seconds + extra_wait + 60)

    def close(self):
        try:
            self.proc.stdin.write(b"close\n")
            self.proc.stdin.flush()
            self.lines.readline(60)
        except (OSError, EOFError, TimeoutError):
            pass
        try:
            self.proc.wait(15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def run_tool(load, args, limit):
    """One run of the load generator that ends by itself: its "key value" figures."""
    proc = spawn(load_command(load, args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    lines = Lines(proc.stdout)
    out = []
    values = {}
    try:
        end = time.monotonic() + limit
        while True:
            line = lines.readline(max(0.1, end - time.monotonic())).rstrip()
            if line == "done":
                break
            out.append(line)
            key, _, value = line.rpartition(" ")
            try:
                values[key] = float(value) if "." in value else int(value)
            except ValueError:
                pass
    finally:
        try:
            proc.wait(15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return values, out


class Table:
    """The figures of a run, printed together at its end."""

    def __init__(self):
        self.rows = []

    def add(self, name, value, goal="", met=None):
        self.rows.append((name, value, goal, met))

    def show(self):
        if not self.rows:
            return
        width = max(len(r[0]) for r in self.rows)
        vwidth = max(len(r[1]) for r in self.rows)
        gwidth = max(len(r[2]) for r in self.rows)
        print("\n%-*s  %-*s  %-*s  %s" % (width, "figure", vwidth, "value", gwidth, "goal", "met"))
        for name, value, goal, met in self.rows:
            word = ("" if goal == "" else "not measured" if met is None else
                    "yes" if met else "NO")
            print("%-*s  %-*s  %-*s  %s" % (width, name, vwidth, value, gwidth, goal, word))


def runs_wanted(default):
    wanted = os.environ.get("RUN", "").replace(",", " ").split()
    return wanted or default


def descriptor_room(n, what):
    """The most connections one process can hold here: the hard limit less a margin."""
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    if hard != resource.RLIM_INFINITY and hard < n + 32:
        print("the hard descriptor limit here is %d: %s scaled down from %d to %d"
              % (hard, what, n, hard - 32))
        return hard - 32
    return n


def ld_connected_seconds(line):
    """"connected C of N in T s" as "T s"."""
    match = re.search(r"in ([\d.]+) s", line)
    return match.group(1) + " s" if match else line


def fmt_time(seconds):
    return "did not exit (killed after 15 s)" if seconds is None else "%.3f s" % seconds


# ----------------------------------------------------------------------------------------
# sessions.sh


def steady(cli, load, n, seconds, per_host, table):
    n = descriptor_room(n, "the sessions")
    print("%d download sessions for %d s against one server started under "
          "prlimit --nofile=1024:20000" % (n, seconds))
    srv = Server(cli, "1024:20000", per_host)
    time.sleep(0.3)
    base = srv.figures()
    show("idle server", base)

    srv.start_sampling()
    before = listen_overflows()
    ld = Load(load, srv.port, n, seconds)
    overflows = listen_overflows() - before
    r = first = ld.result()
    peak = srv.stop_sampling()
    print("  %s (listen overflows meanwhile: %d); sessions with data %d of %d; %.0f MiB read "
          "in all" % (ld.connected, overflows, r["sessions with data"], n, r["bytes"] / 1048576.0))
    show("peak while they ran", peak)
    first_connected = ld.connected
    ld.close()
    left = srv.settle(base[0])
    show("after they left", left)

    ld = Load(load, srv.port, n, 2)
    r = ld.result()
    held = srv.figures()
    print("  again: %s; sessions with data %d, open %d" % (ld.connected, r["sessions with data"],
                                                           r["open"]))
    show("before the stop", held)
    stop = srv.stop()
    print("  stop (SIGINT to exit) with %d sessions open: %s" % (r["open"], fmt_time(stop)))
    ld.close()
    table.add("steady: %d downloads connected in" % n,
              ld_connected_seconds(first_connected) + ", %d listen overflows" % overflows)
    table.add("steady: %d downloads with data" % n, "%d" % first["sessions with data"])
    table.add("steady: peak threads / RSS", "%d / %.0f MiB" % (peak[0], peak[1]))
    table.add("steady: threads / RSS after they left", "%d / %.0f MiB" % (left[0], left[1]))
    table.add("steady: stop with %d open" % r["open"], fmt_time(stop))


STORM_SPEAK_AFTER = 3
STORM_SECONDS = 6
# Connections per client source address (127.0.2.1, 127.0.2.2, ...): 19,000 from one
# address would take two thirds of the usual ephemeral range (32768-60999).
STORM_SPREAD = 1000


def storm(cli, load, kind, n, per_host, table):
    """n connections of one kind opened first, silent for STORM_SPEAK_AFTER s, then all
    speaking at once and streaming for STORM_SECONDS s; then a stop with all of them open."""
    n = descriptor_room(n, "the %s storm" % kind)
    print("\nstorm: %d %s sessions, all opened first, speaking after %d s, streaming for %d s "
          "(server: prlimit --nofile=1024:20000%s)"
          % (n, kind, STORM_SPEAK_AFTER, STORM_SECONDS,
             " " + " ".join(per_host) if per_host else ""))
    srv = Server(cli, "1024:20000", per_host)
    time.sleep(0.3)
    base = srv.figures()
    show("idle server", base)
    srv.start_sampling()
    before = listen_overflows()
    ld = Load(load, srv.port, n, STORM_SECONDS, kind,
              ["--speak-after", STORM_SPEAK_AFTER, "--spread", STORM_SPREAD])
    overflows = listen_overflows() - before
    print("  %s (listen overflows meanwhile: %d)" % (ld.connected, overflows))
    r = ld.result(STORM_SPEAK_AFTER)
    st = srv.status()
    held = srv.figures()
    stop = srv.stop()
    peak = srv.stop_sampling()
    ld.close()

    threads = max(peak[0], held[0])
    hwm = st["hwm"]
    if kind == "upload" and "server read" in r:
        moved = r["server read"]
        how = ("the server's side read past the request on %d of %d (server sockets %d, "
               "least read %.1f KiB); the client sent %.0f MiB, least %.1f KiB per session"
               % (moved, n, r.get("server sockets", 0), r.get("server least", 0) / 1024.0,
                  r["bytes"] / 1048576.0, r["least"] / 1024.0))
    else:
        moved = r["sessions with data"]
        how = ("%d of %d got data: %.0f MiB, least %.1f KiB, median %.1f KiB per session"
               % (moved, n, r["bytes"] / 1048576.0, r["least"] / 1024.0, r["median"] / 1024.0))
        if kind == "websocket":
            how += "; %d frames, %d bad answers" % (r.get("frames", 0), r.get("bad answers", 0))
        how += ("\n  from speaking to the first data: median %.3f s, longest %.3f s (of those "
                "with data)" % (r.get("first data median", -1), r.get("first data longest", -1)))
    print("  " + how)
    print("  ended by the server before speaking: %d; still open at the stop: %d"
          % (r.get("ended before speaking", 0), r["open"]))
    show("peak while they ran", (threads, peak[1], peak[2]))
    print("  peak RSS (VmHWM) %.1f MiB; stop (SIGINT to exit) with %d open: %s"
          % (hwm, r["open"], fmt_time(stop)))
    label = "storm %d %s" % (n, kind)
    table.add(label + ": all opened in", "%s, %d listen overflows, %d cut before speaking"
              % (ld_connected_seconds(ld.connected), overflows, r.get("ended before speaking", 0)))
    table.add(label + ": sessions that moved data", "%d of %d" % (moved, n), "all", moved == n)
    if "first data longest" in r:
        table.add(label + ": longest wait for first data", "%.3f s" % r["first data longest"])
    table.add(label + ": server peak RSS", "%.1f MiB" % hwm, "< 100 MB", hwm * 1048576 < 100e6)
    table.add(label + ": server peak threads", "%d" % threads, "<= 24", threads <= 24)
    table.add(label + ": SIGINT to exit", fmt_time(stop), "< 0.5 s",
              stop is not None and stop < 0.5)


def sessions(cli, load, args):
    n = int(args[0]) if len(args) > 0 else 19000
    seconds = int(args[1]) if len(args) > 1 else 10
    uploads = int(args[2]) if len(args) > 2 else 5000
    websockets = int(args[3]) if len(args) > 3 else 5000
    per_host = per_host_unlimited(cli)
    if not per_host:
        print("note: this server has no --max-sessions-per-host; its default applies")
    table = Table()
    wanted = runs_wanted(["steady", "storms"])
    if "steady" in wanted:
        section(table, "steady", steady, cli, load, n, seconds, per_host, table)
    if "storms" in wanted:
        for kind, count in (("download", n), ("upload", uploads), ("websocket", websockets)):
            section(table, "storm %s" % kind, storm, cli, load, kind, count, per_host, table)
    table.show()


# ----------------------------------------------------------------------------------------
# reliability.sh


def listen_overflows():
    """The system's count of connections dropped because an accept queue was full."""
    if shutil.which("nstat"):
        out = subprocess.run(["nstat", "-asz", "TcpExtListenOverflows"], capture_output=True,
                             text=True, timeout=10).stdout
        for line in out.splitlines():
            if line.startswith("TcpExtListenOverflows"):
                return int(line.split()[1])
    with open("/proc/net/netstat") as f:
        rows = [line.split() for line in f if line.startswith("TcpExt:")]
    return int(rows[1][rows[0].index("ListenOverflows")])


class Acceptor:
    """The load generator's minimal acceptor (accept until EAGAIN, backlog 256)."""

    def __init__(self, load):
        self.proc = spawn([load, "acceptor"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.lines = Lines(self.proc.stdout)
        self.port = int(self.lines.readline(10).rsplit(" ", 1)[1])

    def stop(self):
        try:
            self.proc.stdin.write(b"stop\n")
            self.proc.stdin.flush()
            self.proc.wait(15)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()


def cap(cli, load, per_host, table):
    # The cap: a server held to 1024 descriptors (the raise cannot go above the hard limit).
    srv = Server(cli, "1024:1024", per_host)
    ld = Load(load, srv.port, 1100, 3, "idle")
    r = ld.result()
    print("connections held at the cap (limit 1024, 1,100 idle connections): %d; %s"
          % (r["open"], ld.connected))
    ld.close()
    srv.stop()
    table.add("held at the cap (limit 1024, 1,100 idle)", "%d" % r["open"])


def idle(cli, load, per_host, table):
    srv = Server(cli, "1024:20000", per_host)
    time.sleep(0.3)
    base = srv.figures()
    print("idle connections against one server (soft limit 1024, raised by the server):")
    show("no connection", base)
    for n in (1000, 4000):
        ld = Load(load, srv.port, n, 2, "idle")
        r = ld.result()
        fig = srv.figures()
        show("%d idle connections (%d open)" % (n, r["open"]), fig)
        ld.close()
        left = srv.settle(base[0])
        show("after they left", left)
        table.add("%d idle: open / threads / RSS" % n,
                  "%d / %d / %.0f MiB" % (r["open"], fig[0], fig[1]))
    srv.stop()


def stop_under_load(cli, load, per_host, table):
    srv = Server(cli, "1024:20000", per_host)
    ld = Load(load, srv.port, 500, 2)
    r = ld.result()
    stop = srv.stop()
    print("stop (SIGINT to exit) with %d streaming sessions (%d with data): %s"
          % (r["open"], r["sessions with data"], fmt_time(stop)))
    ld.close()
    table.add("stop with %d streaming" % r["open"], fmt_time(stop))


CROWD_PEERS = 200
CROWD_PROBES = 20
# The idle timeout of the crowd's server: the crowd moves half a byte a second, far below
# the 1024 bytes one idle-timeout window asks for, so the server ends it one window after
# it came. 5 s keeps that inside the run; the default 60 s would make the run a minute
# longer and measure the same thing.
CROWD_IDLE_TIMEOUT = 5


def crowd(cli, load, table):
    print("\nslow-peer crowd: %d peers (127.0.1.1 ...), one byte every 2 s each, against "
          "--max-sessions %d --idle-timeout %d; a fresh download from 127.0.0.9 every 0.5 s"
          % (CROWD_PEERS, CROWD_PEERS, CROWD_IDLE_TIMEOUT))
    srv = Server(cli, "1024:20000", ["--max-sessions", str(CROWD_PEERS),
                                     "--idle-timeout", str(CROWD_IDLE_TIMEOUT)])
    time.sleep(0.3)
    values, out = run_tool(load, ["crowd", srv.port, CROWD_PEERS, CROWD_PROBES], 60)
    stop = srv.stop()
    for line in out:
        if line.startswith(("crowd connected", "probe ")):
            print("  " + line)
    with_data = values.get("probes with data", 0)
    probes = values.get("probes", CROWD_PROBES)
    tries = []
    for line in out:
        match = re.match(r"probe \d+ at \+([\d.]+) s: (.*)", line)
        if match:
            tries.append((float(match.group(1)), match.group(2).startswith("data")))
    print("  crowd ended by the server: %d of %d (%d of them at once, beyond the cap), from "
          "+%.2f s to +%.2f s after it came; still open at the end: %d"
          % (values.get("crowd ended", 0), CROWD_PEERS, values.get("crowd refused", 0),
             values.get("crowd first end at", -1), values.get("crowd last end at", -1),
             values.get("crowd open", 0)))
    # From when the fresh downloads got data again: the first try of the unbroken run of
    # tries with data that closes the series.
    if not tries or not tries[-1][1]:
        served = "not at the end"
    else:
        k = len(tries)
        while k > 0 and tries[k - 1][1]:
            k -= 1
        served = ("throughout" if k == 0 else
                  "from +%.1f s after the crowd came" % tries[k][0])
    print("  fresh downloads with data: %d of %d; served %s; server stop: %s"
          % (with_data, probes, served, fmt_time(stop)))
    table.add("crowd: fresh downloads with data", "%d of %d" % (with_data, probes),
              "still served", with_data > 0)
    table.add("crowd: fresh downloads served again", served)
    table.add("crowd: slow peers ended by the server", "%d of %d" % (values.get("crowd ended", 0),
                                                                   CROWD_PEERS))


def burst_once(load, port, n):
    before = listen_overflows()
    values, out = run_tool(load, ["burst", port, n, 20], 40)
    after = listen_overflows()
    a_count, a_time = parse_count_time(out, "accepted")
    c_count, c_time = parse_count_time(out, "connected")
    return {"accepted": a_count, "accepted_s": a_time, "connected": c_count,
            "connected_s": c_time, "reset": values.get("reset", 0),
            "failed": values.get("failed", 0), "nudged": values.get("nudged", 0),
            "overflows": after - before,
            "progress": next((line for line in out if line.startswith("accepted by")), ""),
            "unreadable": any("unreadable" in line for line in out)}


def parse_count_time(lines, word):
    for line in lines:
        match = re.match(r"%s (\d+) in (-?[\d.]+)" % word, line)
        if match:
            return int(match.group(1)), float(match.group(2))
    return 0, -1.0


def show_burst(label, n, b):
    accepted = ("%.3f s" % b["accepted_s"] if b["accepted_s"] >= 0 else
                "not all (%d)" % b["accepted"])
    connected = ("%.3f s" % b["connected_s"] if b["connected_s"] >= 0 else
                 "not all (%d)" % b["connected"])
    print("  %-17s all %d connected %-8s accepted %-8s reset %d, failed %d, nudged %d, "
          "listen overflows %d" % (label, n, connected, accepted, b["reset"], b["failed"],
                                   b["nudged"], b["overflows"]))
    if b["progress"]:
        print("  %-17s %s" % ("", b["progress"]))


def intake(cli, load, n, rounds, per_host, table):
    print("\nintake of a burst: %d connects issued at once; time until the client sees all of "
          "them connected and until the server has accepted all of them (its sockets in the "
          "kernel's table), %d rounds" % (n, rounds))
    n = descriptor_room(n, "the burst")
    minimal, tachyra = [], []
    for r in range(rounds):
        acc = Acceptor(load)
        b = burst_once(load, acc.port, n)
        acc.stop()
        show_burst("minimal acceptor", n, b)
        minimal.append(b)
        srv = Server(cli, "1024:20000", per_host)
        time.sleep(0.3)
        b = burst_once(load, srv.port, n)
        srv.stop()
        show_burst("tachyra-cli -s", n, b)
        tachyra.append(b)

    def median_time(results):
        times = [b["accepted_s"] for b in results if b["accepted_s"] >= 0]
        return statistics.median(times) if len(times) == len(results) and times else None

    t_min, t_tac = median_time(minimal), median_time(tachyra)
    over_min = sum(b["overflows"] for b in minimal)
    over_tac = sum(b["overflows"] for b in tachyra)
    if any(b["unreadable"] for b in minimal + tachyra):
        print("  the kernel's socket table could not be read: accepted counts are missing")
    if t_min is not None and t_tac is not None:
        ratio = t_min / t_tac
        print("  median time to accept all: minimal %.3f s (%.0f/s), tachyra %.3f s (%.0f/s); "
              "tachyra's speed / minimal's: %.2f" % (t_min, n / t_min, t_tac, n / t_tac, ratio))
        table.add("intake %d: minimal acceptor" % n, "%.3f s" % t_min)
        table.add("intake %d: tachyra" % n, "%.3f s" % t_tac)
        table.add("intake: tachyra speed / minimal", "%.2f" % ratio, ">= 0.5", ratio >= 0.5)
    else:
        print("  not every round accepted all %d: no ratio" % n)
        table.add("intake: tachyra speed / minimal", "not all accepted", ">= 0.5", None)
    table.add("intake: listen overflows (minimal / tachyra)", "%d / %d" % (over_min, over_tac))

    def median_early(results):
        counts = []
        for b in results:
            match = re.search(r" 0\.2s:(\d+)", b["progress"])
            if match:
                counts.append(int(match.group(1)))
        return "%d" % statistics.median(counts) if counts else "-"

    table.add("intake: accepted within 0.2 s (minimal / tachyra)",
              "%s / %s of %d" % (median_early(minimal), median_early(tachyra), n))


def reliability(cli, load, args):
    burst = int(args[0]) if len(args) > 0 else 5000
    rounds = int(args[1]) if len(args) > 1 else 3
    per_host = per_host_unlimited(cli)
    if not per_host:
        print("note: this server has no --max-sessions-per-host; its default applies")
    table = Table()
    wanted = runs_wanted(["cap", "idle", "stop", "crowd", "intake"])
    if "cap" in wanted:
        section(table, "cap", cap, cli, load, per_host, table)
    if "idle" in wanted:
        section(table, "idle", idle, cli, load, per_host, table)
    if "stop" in wanted:
        section(table, "stop", stop_under_load, cli, load, per_host, table)
    if "crowd" in wanted:
        section(table, "crowd", crowd, cli, load, table)
    if "intake" in wanted:
        section(table, "intake", intake, cli, load, burst, rounds, per_host, table)
    table.show()


def main():
    what, cli, load = sys.argv[1], sys.argv[2], sys.argv[3]
    if what == "sessions":
        sessions(cli, load, sys.argv[4:])
    else:
        reliability(cli, load, sys.argv[4:])


if __name__ == "__main__":
    main()
