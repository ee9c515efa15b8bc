# Sourced by the benches that run iperf3: sets IPERF to $IPERF3 when set, else the static
# iperf3 3.21 from the project's parent directory (../shared/tools/iperf3-3.21/iperf3) when
# present, else the system's iperf3. Needs ROOT.
IPERF=${IPERF3:-"$ROOT/../shared/tools/iperf3-3.21/iperf3"}
if [ -x "$IPERF" ]; then
  IPERF=$(cd "$(dirname "$IPERF")" && pwd)/$(basename "$IPERF")
else
  IPERF=$(command -v iperf3 || true)
  [ -n "$IPERF" ] || { echo "no iperf3 (set IPERF3, or apt-get install iperf3)" >&2; exit 1; }
fi
