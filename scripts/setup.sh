#!/bin/sh
# Installs what clicktrack needs on Debian 12 and builds it.
# Usage: scripts/setup.sh [build-folder]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)"
