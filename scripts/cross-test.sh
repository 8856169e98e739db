#!/bin/sh
# Cross-builds clicktrack for 32-bit ARM (armhf) or 64-bit ARM (arm64) and
# runs the whole test suite under qemu user-mode emulation. Installs what it
# needs first (Debian 12; root or sudo): the cross compiler, the target's
# ALSA library and run-time libraries through multiarch, and qemu-user.
# Usage: scripts/cross-test.sh armhf|arm64 [build-folder [extra cmake options...]]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-}
case "$arch" in
  armhf) triplet=arm-linux-gnueabihf qemu=qemu-arm ;;
  arm64) triplet=aarch64-linux-gnu qemu=qemu-aarch64 ;;
  *) echo "usage: $0 armhf|arm64 [build-folder [cmake options...]]" >&2; exit 2 ;;
esac
shift
build=${1:-"$here/build-$arch"}
[ $# -gt 0 ] && shift

# The host's build and test tools (cmake, the tools the tests call, googletest).
"$here/scripts/install-deps.sh"

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  $sudo_cmd dpkg --add-architecture "$arch"
fi
packages="g++-$triplet libasound2-dev:$arch libstdc++6:$arch qemu-user googletest"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends $missing
fi

cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-$arch.cmake" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
log="$build/ctest.log"
status=0
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" >"$log" 2>&1 || status=$?
cat "$log"
count=$(sed -n 's/.*tests failed out of \([0-9][0-9]*\).*/\1/p' "$log" | tail -n 1)
echo "$arch: ${count:-0} tests run under $qemu"
exit "$status"
