#!/bin/sh
# Installs the Debian/Ubuntu packages the build, the tests and the program need.
# Usage: scripts/install-deps.sh [run|test]
set -eu
MODE=${1:-test}

PKGS="cmake ninja-build g++ libasio-dev libcli11-dev libgtest-dev libgtk-3-dev libqrcodegencpp-dev librsvg2-common libsqlite3-dev pkg-config"
if [ "$MODE" = test ]; then
  PKGS="$PKGS clang-format iperf3 g++-mingw-w64-x86-64-posix wine64 xvfb xauth locales \
fonts-wqy-microhei imagemagick chromium nodejs npm xdotool python3-websockets python3-prometheus-client clang \
libclang-rt-14-dev desktop-file-utils dpkg-dev lintian mandoc unzip zbar-tools"
fi

missing=""
for p in $PKGS; do
  # Some Node.js packages bring their own npm and conflict with Debian's.
  [ "$p" = npm ] && command -v npm >/dev/null 2>&1 && continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO=sudo
  else
    echo "Tachyra needs these packages:$missing" >&2
    echo "Installing them needs root: run 'sudo $0 $MODE' once, then try again." >&2
    exit 1
  fi
else
  SUDO=
fi
echo "Installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
