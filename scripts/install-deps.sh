#!/bin/sh
# Installs the Debian packages clicktrack needs to build and test (Debian 12).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/apt-install-missing.sh" build-essential cmake pkg-config libasound2-dev alsa-utils \
  libgtest-dev libgmock-dev sox clang sndfile-programs python3-mido midicsv
