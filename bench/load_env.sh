# Sourced by the load benches: sets BUILD, CLI and LOAD (the server and the load generator)
# from the environment or from build/default, and builds both unless NO_BUILD=1. Needs ROOT.
BUILD=${BUILD:-"$ROOT/build/default"}
CLI=${CLI:-"$BUILD/cli/tachyra-cli"}
LOAD=${LOAD:-"$BUILD/bench/tachyra-session-load"}
if [ "${NO_BUILD:-0}" != 1 ]; then
  cmake --build "$BUILD" --target tachyra-cli tachyra-session-load >/dev/null
fi
