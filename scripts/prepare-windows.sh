#!/bin/sh
# Cross-builds the Windows program (build/mingw) for the Wine tests, and makes sure the
# zh_CN.UTF-8 locale they run it under exists.
set -eu
cd "$(dirname "$0")/.."

if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  if [ "$(id -u)" -eq 0 ]; then
    SUDO=
  elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO=sudo
  else
    echo "The Wine tests need the zh_CN.UTF-8 locale: run 'sudo $0' once." >&2
    exit 1
  fi
  echo "== generating the zh_CN.UTF-8 locale"
  if [ -f /etc/locale.gen ] && grep -q '^# *zh_CN.UTF-8 UTF-8' /etc/locale.gen; then
    $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi

echo "== Windows build (mingw-w64)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc 2>/dev/null || echo 2)"
