#!/bin/sh
# A server under pressure, in one run, all on loopback. Linux only.
#  cap:    the connections held at the session cap (descriptor limit 1024).
#  idle:   threads and RSS at 1,000 and 4,000 idle connections and after they leave.
#  stop:   the time the server takes to stop with 500 streaming sessions.
#  crowd:  200 slow peers, each from its own address (127.0.1.1 ... 127.0.1.200), one byte
#          every 2 s, against --max-sessions 200 --idle-timeout 5, while a fresh download
#          from 127.0.0.9 is tried every 0.5 s: how many tries got data, and from when.
#  intake: BURST connects (default 5,000) issued at once against tachyra-cli and against
#          the load generator's minimal acceptor (accept until EAGAIN, backlog 256), ROUNDS
#          times (default 3): the time until each has accepted all of them, the ratio of
#          their speeds and the system's listen-queue overflows.
# Every server but the crowd's runs with --max-sessions-per-host 0 where it has the option:
# the load comes from one loopback address. Ends with a table of the figures, each next to
# its goal where it has one.
# Usage: bench/reliability.sh [BURST] [ROUNDS]
# Environment: BUILD (build dir, default build/default), CLI and LOAD (the server and the
# load generator, default from BUILD), NO_BUILD=1 (use them as they are), RUN (any of
# "cap idle stop crowd intake", default all).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/bench/load_env.sh"
# Every load stops by itself; this bounds the whole run even if one of them does not.
exec timeout -k 10 900 python3 "$ROOT/bench/load_bench.py" reliability "$CLI" "$LOAD" \
  "${1:-5000}" "${2:-3}"
