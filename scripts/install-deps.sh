#!/bin/sh
# Installs the Debian packages clicktrack needs to build and test (Debian 12).
set -eu
packages="build-essential cmake pkg-config libasound2-dev alsa-utils libgtest-dev libgmock-dev sox clang"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
$sudo_cmd apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends $missing
