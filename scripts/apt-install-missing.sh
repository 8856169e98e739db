#!/bin/sh
# Installs those of the named Debian packages that are not installed yet
# (root or sudo). Usage: scripts/apt-install-missing.sh PACKAGE...
set -eu
missing=""
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
$sudo_cmd apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends $missing
