#!/bin/sh
# A one-hour track (96000 per second, 24 bits, tempo 120, 4 beats, 1800
# measures) with a sample as its click, written by `clicktrack render` as
# WAV, FLAC and Ogg Vorbis: the WAV file against a plain dd of as many bytes
# (conv=fsync, as the program puts its files on disk), and the FLAC and Ogg
# files against sox encoding that same WAV file in the same run. Reports the
# median wall-clock times, their ratios and the peak memory of each.
#
#   sh bench/formats_bench.sh [program] [folder]
#
# program: the built clicktrack (default build/clicktrack)
# folder:  where the files are written (default: a new folder under $TMPDIR,
#          removed afterwards); the WAV file takes about 1 GB.
# RUNS:    timed runs of each command (default 3).
#
# sox's encoders are asked for what libsndfile's do by default: FLAC at
# compression level 5, Vorbis at quality 4. Every timed command starts after
# a sync; sox does not put its file on disk, the program does.
set -eu

program=${1:-build/clicktrack}
[ -x "$program" ] || { echo "no program at '$program'; build it first" >&2; exit 1; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
for tool in /usr/bin/time sox; do
    command -v "$tool" >/dev/null 2>&1 || { echo "needs $tool" >&2; exit 1; }
done
runs=${RUNS:-3}

if [ $# -ge 2 ]; then
    folder=$2
    mkdir -p "$folder"
    made_folder=
else
    folder=$(mktemp -d "${TMPDIR:-/tmp}/formats-bench.XXXXXX")
    made_folder=yes
fi
folder=$(cd "$folder" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/formats-bench-times.XXXXXX")
cleanup() {
    rm -f "$folder"/hour.* "$folder"/sox.* "$folder/zeros.bin" "$folder/knock.wav"
    rm -rf "$scratch"
    if [ -n "$made_folder" ]; then rmdir "$folder" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM

# The click: 30 ms of a decaying 1.5 kHz tone at 48000 per second, which
# the program converts to the track's rate.
sox -n -r 48000 -c 1 "$folder/knock.wav" synth 0.03 sine 1500 fade 0 0.03 0.025 vol 0.7

render="-r 96000 -m 1800 --sample $folder/knock.wav -q"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Times one command run in the folder, after a sync: appends "nanoseconds
# peak-KiB" to the file named first.
timed() {
    log=$1
    shift
    sync
    start=$(date +%s%N)
    (cd "$folder" && /usr/bin/time -f '%M' -o "$scratch/time.txt" "$@" > /dev/null)
    end=$(date +%s%N)
    echo "$((end - start)) $(tail -n 1 "$scratch/time.txt")" >> "$scratch/$log"
}

# shellcheck disable=SC2086
"$program" render $render -o "$folder/hour.wav"
bytes=$(stat -c %s "$folder/hour.wav")
i=0
while [ "$i" -lt "$runs" ]; do
    rm -f "$folder/zeros.bin"
    timed dd dd if=/dev/zero of=zeros.bin bs=1M count="$bytes" iflag=count_bytes conv=fsync status=none
    rm -f "$folder/zeros.bin"
    for format in wav flac ogg; do
        # shellcheck disable=SC2086
        timed "$format" "$program" render $render -o "hour.$format"
    done
    rm -f "$folder/sox.flac" "$folder/sox.ogg"
    timed sox-flac sox hour.wav -C 5 sox.flac
    timed sox-ogg sox hour.wav -C 4 sox.ogg
    i=$((i + 1))
done

seconds() { cut -d' ' -f1 "$scratch/$1" | median | awk '{ printf "%.3f", $1 / 1e9 }'; }
peak() { cut -d' ' -f2 "$scratch/$1" | sort -n | tail -n 1; }
size() { stat -c %s "$folder/$1"; }
ratio() { awk -v a="$(seconds "$1")" -v b="$(seconds "$2")" 'BEGIN { printf "%.2f", a / b }'; }

echo "one hour with a sample click (96000/24, 3600 s), median of $runs runs, files in $folder"
printf '%-22s %8s s %7s KiB %11s bytes\n' "render WAV" "$(seconds wav)" "$(peak wav)" "$(size hour.wav)"
printf '%-22s %8s s %7s KiB %11s bytes\n' "dd of as many bytes" "$(seconds dd)" "$(peak dd)" "$bytes"
printf '%-22s %8s s %7s KiB %11s bytes\n' "render FLAC" "$(seconds flac)" "$(peak flac)" "$(size hour.flac)"
printf '%-22s %8s s %7s KiB %11s bytes\n' "sox WAV to FLAC" "$(seconds sox-flac)" "$(peak sox-flac)" "$(size sox.flac)"
printf '%-22s %8s s %7s KiB %11s bytes\n' "render Ogg" "$(seconds ogg)" "$(peak ogg)" "$(size hour.ogg)"
printf '%-22s %8s s %7s KiB %11s bytes\n' "sox WAV to Ogg" "$(seconds sox-ogg)" "$(peak sox-ogg)" "$(size sox.ogg)"
wav_ratio=$(ratio wav dd)
verdict="aim missed"
if awk -v r="$wav_ratio" 'BEGIN { exit !(r <= 1.1) }'; then verdict="aim met"; fi
echo "WAV against dd: ratio $wav_ratio (aim 1.10 or less): $verdict"
echo "FLAC against sox: ratio $(ratio flac sox-flac); Ogg against sox: ratio $(ratio ogg sox-ogg)"
