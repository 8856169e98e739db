#!/bin/sh
# Installs the Debian packages clicktrack needs to build and test (Debian 12).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# libsndfile and libsamplerate read the user's samples and write FLAC, Ogg
# and AIFF; sox and sndfile-programs read the results back in the tests.
# jackd2 serves the JACK tests (a dummy-driver server each) and libjack-jackd2-dev
# builds the JACK client.
"$here/apt-install-missing.sh" build-essential cmake pkg-config libasound2-dev alsa-utils \
  jackd2 libjack-jackd2-dev \
  libsndfile1-dev libsamplerate0-dev \
  libgtest-dev libgmock-dev sox clang sndfile-programs python3-mido midicsv
