#!/bin/sh
# Builds Tachyra and runs it: the window when a display is present, otherwise the
# headless test server on port 10001.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset default -G Ninja >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)"
if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  # The Windows program too, when the cross compiler is there: build/mingw/app/win32.
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw -j "$(nproc 2>/dev/null || echo 2)"
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/default/app/tachyra ]; then
  exec build/default/app/tachyra "$@"
fi
echo "No display found: starting the headless test server (Ctrl-C stops it)."
exec build/default/cli/tachyra-cli -s "$@"
