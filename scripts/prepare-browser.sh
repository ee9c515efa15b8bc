#!/bin/sh
# Installs the browser tests' npm packages (playwright-core) from the lock file. The
# browser itself is Debian's chromium from install-deps.sh; nothing downloads another.
set -eu
cd "$(dirname "$0")/../tests/browser"
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
