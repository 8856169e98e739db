#!/bin/sh
# Installs what is needed, builds clicktrack and runs the whole test suite.
# Usage: scripts/test.sh [build-folder [extra cmake options...]]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
[ $# -gt 0 ] && shift
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
