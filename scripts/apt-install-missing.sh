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
# A mirror in the middle of a sync fails an update now and then: try again,
# then go on with the lists there are.
tries=1
until $sudo_cmd apt-get update -q; do
  [ "$tries" -ge 4 ] && break
  tries=$((tries + 1))
  sleep 15
done
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends $missing
