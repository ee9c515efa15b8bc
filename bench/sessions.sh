#!/bin/sh
# Many sessions against one tachyra-cli server started under the usual soft descriptor limit
# (prlimit --nofile=1024:20000), all from this machine's loopback. Linux only.
#  steady: N download sessions (default 19,000) for SECONDS (default 10): how many got data,
#          the server's peak threads, RSS and descriptors, the figures after they leave, and
#          the time to stop with all of them open.
#  storms: against a fresh server each, N raw downloads, UPLOADS raw uploads (default 5,000)
#          and WEBSOCKETS WebSocket streams (default 5,000), every connection opened first,
#          silent for 3 s, then all speaking at once and streaming for 6 s: sessions that
#          moved data, the server's peak RSS and threads, and the time from SIGINT (all of
#          them open) until the server has exited, each next to its goal.
# Every server runs with --max-sessions-per-host 0 where it has the option: the load comes
# from a handful of loopback addresses (127.0.2.1 on, 1,000 connections each). Ends with a
# table of the figures. The load generator takes its hard descriptor limit (root may raise
# it further) and, as root, a higher priority; below N + 32 descriptors the counts shrink.
# Usage: bench/sessions.sh [N] [SECONDS] [UPLOADS] [WEBSOCKETS]
# Environment: BUILD (build dir, default build/default), CLI and LOAD (the server and the
# load generator, default from BUILD), NO_BUILD=1 (use them as they are), RUN ("steady",
# "storms" or both, the default).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/bench/load_env.sh"
# Every load stops by itself; this bounds the whole run even if one of them does not.
exec timeout -k 10 1200 python3 "$ROOT/bench/load_bench.py" sessions "$CLI" "$LOAD" \
  "${1:-19000}" "${2:-10}" "${3:-5000}" "${4:-5000}"
