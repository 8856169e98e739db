#!/bin/sh
# Installs what a cross build of clicktrack for armhf or arm64 needs on a
# Debian 12 host (root or sudo): the cross compiler, the target's ALSA, JACK,
# libsndfile and libsamplerate libraries and run-time libraries through
# multiarch, qemu-user to run the results, and GoogleTest's sources.
# Usage: scripts/install-cross-deps.sh armhf|arm64
set -eu
arch=${1:-}
case "$arch" in
  armhf) triplet=arm-linux-gnueabihf ;;
  arm64) triplet=aarch64-linux-gnu ;;
  *) echo "usage: $0 armhf|arm64" >&2; exit 2 ;;
esac
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  $sudo_cmd dpkg --add-architecture "$arch"
fi
"$(dirname "$0")/apt-install-missing.sh" "g++-$triplet" "libasound2-dev:$arch" "libstdc++6:$arch" \
  "libsndfile1-dev:$arch" "libsamplerate0-dev:$arch" "libjack-jackd2-dev:$arch" qemu-user googletest
