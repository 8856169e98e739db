#!/bin/sh
# Cross-builds clicktrack for 32-bit ARM (armhf) or 64-bit ARM (arm64) and
# runs the whole test suite under qemu user-mode emulation. Installs what it
# needs first (Debian 12; root or sudo; see install-cross-deps.sh).
# Usage: scripts/cross-test.sh armhf|arm64 [build-folder [extra cmake options...]]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-}
case "$arch" in
  armhf) qemu=qemu-arm ;;
  arm64) qemu=qemu-aarch64 ;;
  *) echo "usage: $0 armhf|arm64 [build-folder [cmake options...]]" >&2; exit 2 ;;
esac
shift
build=${1:-"$here/build-$arch"}
[ $# -gt 0 ] && shift

# The host's build and test tools (cmake, the tools the tests call), then
# the cross compiler, the target's libraries and qemu.
"$here/scripts/install-deps.sh"
"$here/scripts/install-cross-deps.sh" "$arch"

cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-$arch.cmake" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
log="$build/ctest.log"
status=0
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" >"$log" 2>&1 || status=$?
cat "$log"
count=$(sed -n 's/.*tests failed out of \([0-9][0-9]*\).*/\1/p' "$log" | tail -n 1)
echo "$arch: ${count:-0} tests run under $qemu"
exit "$status"
