#!/bin/bash
# CPU cost of playback: clicktrack auditioning to ALSA's null device against
# aplay playing the very same frames to the same device.
#
# Usage: bench/playback_bench.sh [clicktrack-binary [minutes [repeats]]]
#   clicktrack-binary  default: build/clicktrack beside this folder
#   minutes            audition length of one pass (default 10)
#   repeats            auditions per measured process (default 40)
#
# One audition of 10 minutes costs only a few milliseconds of CPU, below the
# 10 ms resolution of /usr/bin/time, so each measured process plays `repeats`
# of them: clicktrack is given `a` that many times in one run, and aplay is
# given the same file that many times on one command line. The file holds the
# frames clicktrack played in one audition, captured through ALSA's file
# plugin, so both sides play the same audio at 44100 Hz, 24 bits, one channel.
# Each side is measured three times, alternately; the lowest user+sys time of
# each is compared. `clicktrack play` is measured too, playing as many
# seconds in one run as the menu's auditions add up to.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-"$here/build/clicktrack"}
minutes=${2:-10}
repeats=${3:-40}
rate=44100

[ -x "$bin" ] || { echo "no clicktrack binary at $bin (build it first)" >&2; exit 1; }
bin=$(realpath "$bin")
command -v aplay >/dev/null || { echo "aplay is needed (alsa-utils)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/home" "$work/run"

seconds=$((minutes * 60))
# Answers: 44100 Hz, 24 bits; device; audition length.
setup="1
2
o
%s
al
$seconds
"

# 1. One audition captured to a file: the exact frames clicktrack plays.
cat > "$work/home/.asoundrc" <<EOF
pcm.benchcap {
  type file
  slave.pcm "null"
  file "$work/frames.raw"
  format "raw"
}
EOF
# shellcheck disable=SC2059
# The program ends through `x`, with status 2.
status=0
printf "$setup"'a\nx\n' benchcap | (cd "$work/run" && HOME="$work/home" "$bin" >/dev/null) || status=$?
[ "$status" -eq 2 ] || { echo "clicktrack ended with status $status" >&2; exit 1; }
bytes=$(stat -c %s "$work/frames.raw")
frames=$((bytes / 3))
[ "$frames" -gt 0 ] || { echo "nothing was captured" >&2; exit 1; }

# 2. The same frames as a 24-bit one-channel wave file.
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
{
  printf 'RIFF'; le32 $((36 + bytes)); printf 'WAVEfmt '; le32 16
  printf '\x01\x00\x01\x00'; le32 $rate; le32 $((rate * 3)); printf '\x03\x00\x18\x00'
  printf 'data'; le32 "$bytes"
  cat "$work/frames.raw"
} > "$work/frames.wav"
rm "$work/frames.raw"
rm "$work/home/.asoundrc"

# 3. The measured runs.
program_input=$(printf "$setup" null; for ((i = 0; i < repeats; i++)); do echo a; done; echo x)
files=()
for ((i = 0; i < repeats; i++)); do files+=("$work/frames.wav"); done

cpu_of() {  # prints user+sys seconds of the command
  /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null 2>&1 || true
  # the last line holds the times; an exit status other than 0 is noted above it
  tail -n 1 "$work/time" | awk '{ printf "%.2f", $1 + $2 }'
}
export HOME="$work/home"  # no personal ALSA configuration in the way
run_program() { (cd "$work/run" && printf '%s\n' "$program_input" | cpu_of "$bin"); }
run_aplay() { cpu_of aplay -q -D null "${files[@]}"; }
# The command line plays as many seconds in one go as the menu's auditions.
run_play() { (cd "$work/run" && cpu_of "$bin" play -q -d null --seconds $((seconds * repeats))); }

cat "$work/frames.wav" >/dev/null  # into the page cache before anything is measured
best_program=""
best_aplay=""
best_play=""
lowest() { awk -v x="$1" -v b="$2" 'BEGIN { print (b == "" || x < b) ? x : b }'; }
for round in 1 2 3; do
  p=$(run_program)
  a=$(run_aplay)
  c=$(run_play)
  echo "round $round: clicktrack a ${p} s, aplay ${a} s, clicktrack play ${c} s"
  best_program=$(lowest "$p" "$best_program")
  best_aplay=$(lowest "$a" "$best_aplay")
  best_play=$(lowest "$c" "$best_play")
done

echo "frames per audition: $frames ($minutes min at $rate Hz, 24 bits, one channel)"
echo "auditions per process: $repeats"
echo "clicktrack CPU (user+sys, best of 3): $best_program s"
echo "aplay CPU (user+sys, best of 3):      $best_aplay s"
echo "clicktrack play CPU, the same seconds:  $best_play s"
awk -v p="$best_program" -v a="$best_aplay" 'BEGIN {
  if (a > 0) printf "ratio clicktrack / aplay: %.2f\n", p / a
  else print "ratio: aplay took no measurable CPU; raise the repeats"
}'
