#!/bin/bash
# The JACK client's cost: the process callback's median and worst time per
# period and the xruns over a long run at 64 frames a period, and the
# client's CPU time against aplay playing the same frames to ALSA's null
# device (the baseline of bench/playback_bench.sh).
#
# Usage: bench/jack_bench.sh [clicktrack-binary [minutes]]
#   clicktrack-binary  default: build/clicktrack beside this folder
#   minutes            length of the run (default 10)
#
# A server of its own runs the dummy driver (no sound card) at 48000 Hz,
# 64 frames a period, in real-time mode when the system grants it (root),
# else without. CLICKTRACK_JACK_TIMING=1 has the program time the body of
# its callback with clock_gettime into a histogram laid out beforehand and
# print the median and the worst at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-"$here/build/clicktrack"}
minutes=${2:-10}
seconds=$((minutes * 60))
options=(-t 120 --accent --subdivide 4)

[ -x "$bin" ] || { echo "no clicktrack binary at $bin (build it first)" >&2; exit 1; }
command -v jackd >/dev/null || { echo "jackd is needed (jackd2)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed" >&2; exit 1; }

work=$(mktemp -d)
name="clicktrack-bench-$$"
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

start_server() {
  JACK_NO_AUDIO_RESERVATION=1 jackd -n "$name" "$@" -d dummy -r 48000 -p 64 >"$work/jackd.log" 2>&1 &
  server=$!
  for _ in $(seq 100); do
    JACK_DEFAULT_SERVER=$name jack_lsp >/dev/null 2>&1 && return 0
    kill -0 "$server" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
mode="real-time"
if ! start_server -R; then
  mode="no real-time"
  start_server --no-realtime || { cat "$work/jackd.log" >&2; exit 1; }
fi

echo "server: dummy driver, 48000 Hz, 64 frames a period, $mode"
echo "run: clicktrack play --jack ${options[*]} --loop --seconds $seconds"
JACK_DEFAULT_SERVER=$name CLICKTRACK_JACK_TIMING=1 /usr/bin/time -f "%U %S" -o "$work/time" \
  "$bin" play --jack "${options[@]}" --loop --seconds "$seconds" 2>"$work/err"
cat "$work/err"
client=$(awk '{ printf "%.2f", $1 + $2 }' "$work/time")

# The same frames as a wave file, played by aplay to the null device.
"$bin" render -q -r 48000 "${options[@]}" -m $((seconds / 2)) -o "$work/frames.wav"
cat "$work/frames.wav" >/dev/null
/usr/bin/time -f "%U %S" -o "$work/time" aplay -q -D null "$work/frames.wav" >/dev/null 2>&1 || true
baseline=$(tail -n 1 "$work/time" | awk '{ printf "%.2f", $1 + $2 }')
echo "clicktrack CPU over the run (user+sys): $client s"
echo "aplay -D null CPU for the same frames:  $baseline s"
