# Sourced by the side-by-side benches once ROOT is set, with the bench's own arguments:
# BUILD is the second argument (default build/default) and CLI its tachyra-cli, which must
# exist; bench_kit.py is importable. find_iperf3 sets IPERF to $IPERF3 when set, else the
# static iperf3 3.21 from the project's parent directory (../shared/tools/iperf3-3.21/iperf3)
# when present, else the system's iperf3.
BUILD=${2:-"$ROOT/build/default"}
CLI="$BUILD/cli/tachyra-cli"
[ -x "$CLI" ] || { echo "build first: $CLI is missing" >&2; exit 1; }
PYTHONPATH="$ROOT/bench"
export PYTHONPATH

find_iperf3() {
  IPERF=${IPERF3:-"$ROOT/../shared/tools/iperf3-3.21/iperf3"}
  if [ -x "$IPERF" ]; then
    IPERF=$(cd "$(dirname "$IPERF")" && pwd)/$(basename "$IPERF")
  else
    IPERF=$(command -v iperf3 || true)
    [ -n "$IPERF" ] || { echo "no iperf3 (set IPERF3, or apt-get install iperf3)" >&2; exit 1; }
  fi
}
