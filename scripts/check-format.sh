#!/bin/sh
# Fails when a C++ source file differs from clang-format's output.
set -eu
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h' | grep -v '^third_party/' || true)
[ -z "$files" ] && exit 0
clang-format --dry-run -Werror $files
