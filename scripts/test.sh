#!/bin/sh
# Builds everything and runs every test: native build, address+undefined and thread
# sanitizer builds, the Windows program under Wine, the browser and window tests,
# and the formatting check.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

JOBS=$(nproc 2>/dev/null || echo 2)
# Servers the tests start keep their results history here, never in the user's folder.
XDG_DATA_HOME=$(mktemp -d)
export XDG_DATA_HOME
trap 'rm -rf "$XDG_DATA_HOME"' EXIT

echo "== formatting"
scripts/check-format.sh

for extra in scripts/prepare-*.sh; do
  [ -x "$extra" ] && "$extra"
done

echo "== native build and all tests"
cmake --preset default -G Ninja >/dev/null
cmake --build --preset default -j "$JOBS"
ctest --preset default -j "$JOBS"

for preset in asan tsan; do
  echo "== $preset build, unit and integration tests"
  cmake --preset "$preset" -G Ninja >/dev/null
  cmake --build --preset "$preset" -j "$JOBS"
  ctest --preset "$preset" -L 'unit|integration' -j "$JOBS"
done

echo "== packages: the .deb and the Windows zip"
tests/package/check_packages.sh
echo "All tests passed."
