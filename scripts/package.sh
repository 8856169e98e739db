#!/bin/sh
# Builds the Debian packages of clicktrack and checks each one: its control
# data and contents, lintian (no errors), and a clean unpacking with dpkg -x
# whose man page renders and whose program (through qemu for ARM) writes the
# default click track with the reference checksum.
# Usage: scripts/package.sh [output-folder [host|armhf|arm64[:build-folder] ...]]
#   default: packages/ and all three. Each package is built in the folder the
#   tests use (build, build-armhf, build-arm64) unless another is given, so it
#   holds the tested program.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$here/packages"}
[ $# -gt 0 ] && shift
arches=${*:-"host armhf arm64"}

"$here/scripts/install-deps.sh"
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
for tool in lintian man:man-db; do
  command -v "${tool%%:*}" >/dev/null 2>&1 && continue
  "$here/scripts/apt-install-missing.sh" "${tool#*:}"
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
reference=$(sed -n 's/^\([0-9a-f]*\)  default\.wav$/\1/p' "$here/tests/data/checksums.txt")

for item in $arches; do
  arch=${item%%:*}
  case "$arch" in
    host) build="$here/build" toolchain="" run="" ;;
    armhf) build="$here/build-armhf" toolchain="$here/cmake/toolchain-armhf.cmake" run=qemu-arm ;;
    arm64) build="$here/build-arm64" toolchain="$here/cmake/toolchain-arm64.cmake" run=qemu-aarch64 ;;
    *) echo "unknown architecture: $arch (host, armhf or arm64)" >&2; exit 2 ;;
  esac
  [ "$item" = "$arch" ] || build=$(realpath -m "${item#*:}")
  echo "== package for $arch"
  if [ -n "$toolchain" ]; then
    "$here/scripts/install-cross-deps.sh" "$arch"
    cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
  else
    cmake -S "$here" -B "$build" >/dev/null
  fi
  cmake --build "$build" -j "$(nproc)" --target clicktrack clicktrack_docs
  (cd "$build" && cpack -G DEB >/dev/null)
  deb=$(ls -t "$build"/clicktrack_*.deb | head -n 1)
  cp "$deb" "$out/"
  deb="$out/$(basename "$deb")"

  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
  lintian --fail-on error "$deb"

  # A clean folder, as a container would have it.
  root=$(mktemp -d)
  dpkg -x "$deb" "$root"
  man -l "$root/usr/share/man/man1/clicktrack.1.gz" >/dev/null
  work=$(mktemp -d)
  status=0
  (cd "$work" && printf '1\n2\nw\nx\n' | $run "$root/usr/bin/clicktrack" >/dev/null) || status=$?
  sum=$(sha256sum "$work/click.wav" | cut -d ' ' -f 1)
  rm -rf "$root" "$work"
  if [ "$status" -ne 2 ] || [ "$sum" != "$reference" ]; then
    echo "$arch: the packaged program did not write the reference track (status $status)" >&2
    exit 1
  fi
  echo "$arch: $(basename "$deb") unpacks, its man page renders and its program writes the reference track"
done
