#!/bin/sh
# Times `w` against a plain dd of zeros of the same size into the same folder,
# for the default track (44100 per second, 24 bits, 96 s) and a one-hour track
# (96000 per second, 24 bits, tempo 120, 4 beats, 1800 measures), and reports
# the ratio of the wall-clock times and the peak memory of each.
#
#   sh bench/wave_bench.sh [program] [folder]
#
# program: the built clicktrack (default build/clicktrack)
# folder:  where the files are written (default: a new folder under $TMPDIR,
#          removed afterwards). The one-hour track takes about 1 GB.
# RUNS:    timed runs of each command; the median is reported (default 5).
#
# Every timed command starts after a sync, so that neither pays for writing
# back the file before it; one untimed pair warms up the caches first. The
# program puts a new file in place only once it is on disk, so dd is asked
# to do the same (conv=fsync): the baseline is the same bytes made durable.
set -eu

program=${1:-build/clicktrack}
[ -x "$program" ] || { echo "no program at '$program'; build it first" >&2; exit 1; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (GNU time)" >&2; exit 1; }
runs=${RUNS:-5}

if [ $# -ge 2 ]; then
    folder=$2
    mkdir -p "$folder"
    made_folder=
else
    folder=$(mktemp -d "${TMPDIR:-/tmp}/wave-bench.XXXXXX")
    made_folder=yes
fi
folder=$(cd "$folder" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/wave-bench-times.XXXXXX")
cleanup() {
    rm -f "$folder/click.wav" "$folder/zeros.bin"
    rm -rf "$scratch"
    if [ -n "$made_folder" ]; then rmdir "$folder" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM

now() { date +%s%N; }

# Median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# "peak-KiB cpu-seconds" from the report of /usr/bin/time -v.
usage() {
    awk -F': ' '/Maximum resident set size/ { kib = $2 }
                /User time/ { cpu += $2 } /System time/ { cpu += $2 }
                END { printf "%d %.2f\n", kib, cpu }' "$scratch/time.txt"
}

# One run of the program with the given answers and commands; prints
# "nanoseconds peak-KiB cpu-seconds" and checks the size of what it wrote.
# Answers starting with "render" are the command line's arguments instead.
time_program() {
    printf '%b' "$1" > "$scratch/answers.txt"
    rm -f "$folder/click.wav"
    sync
    start=$(now)
    status=0
    case $1 in
      render*) # shellcheck disable=SC2086
               (cd "$folder" && /usr/bin/time -v -o "$scratch/time.txt" "$program" $1 -q \
                   < /dev/null > /dev/null) || status=$?
               expected=0 ;;
      *)       (cd "$folder" && /usr/bin/time -v -o "$scratch/time.txt" "$program" \
                   < "$scratch/answers.txt" > /dev/null) || status=$?
               # The menu always ends with status 2, also after `x`.
               expected=2 ;;
    esac
    end=$(now)
    [ "$status" -eq "$expected" ] || { echo "clicktrack ended with status $status" >&2; exit 1; }
    size=$(stat -c %s "$folder/click.wav" 2>/dev/null || echo 0)
    # 0 bytes expected: whatever the track holds (dd then writes as much).
    [ "$2" -eq 0 ] || [ "$size" -eq "$2" ] ||
        { echo "click.wav holds $size bytes, not $2" >&2; exit 1; }
    written=$size
    echo "$((end - start)) $(usage)"
    rm -f "$folder/click.wav"
}

# One plain write of the same number of bytes.
time_dd() {
    rm -f "$folder/zeros.bin"
    sync
    start=$(now)
    (cd "$folder" && /usr/bin/time -v -o "$scratch/time.txt" \
        dd if=/dev/zero of=zeros.bin bs=1M count="$1" iflag=count_bytes conv=fsync status=none)
    end=$(now)
    echo "$((end - start)) $(usage)"
    rm -f "$folder/zeros.bin"
}

bench() {
    name=$1 answers=$2 bytes=$3
    time_program "$answers" "$bytes" > /dev/null
    [ "$bytes" -ne 0 ] || bytes=$written
    time_dd "$bytes" > /dev/null
    : > "$scratch/program.times"
    : > "$scratch/dd.times"
    i=0
    while [ "$i" -lt "$runs" ]; do
        time_program "$answers" "$bytes" >> "$scratch/program.times"
        time_dd "$bytes" >> "$scratch/dd.times"
        i=$((i + 1))
    done
    p_ns=$(cut -d' ' -f1 "$scratch/program.times" | median)
    p_kib=$(cut -d' ' -f2 "$scratch/program.times" | sort -n | tail -n 1)
    p_cpu=$(cut -d' ' -f3 "$scratch/program.times" | median)
    d_ns=$(cut -d' ' -f1 "$scratch/dd.times" | median)
    d_kib=$(cut -d' ' -f2 "$scratch/dd.times" | sort -n | tail -n 1)
    d_cpu=$(cut -d' ' -f3 "$scratch/dd.times" | median)
    awk -v name="$name" -v bytes="$bytes" -v p="$p_ns" -v d="$d_ns" -v pk="$p_kib" \
        -v dk="$d_kib" -v pc="$p_cpu" -v dc="$d_cpu" 'BEGIN {
        printf "%-31s %10d bytes | w %6.3f s (cpu %5.2f s) %5d KiB | dd %6.3f s (cpu %5.2f s) %5d KiB | ratio %.2f\n",
               name, bytes, p / 1e9, pc, pk, d / 1e9, dc, dk, p / d
    }'
    last_ratio=$(awk -v p="$p_ns" -v d="$d_ns" 'BEGIN { printf "%.2f", p / d }')
    last_kib=$p_kib
}

echo "clicktrack wave writing against dd, median of $runs runs, files in $folder"
# Starting a process costs a few milliseconds, which is most of the short
# track's time; this line shows that cost alone (start and exit, no file).
bench "start-up only (nothing written)" '1\n2\nx\n' 0
bench "default track (44100/24, 96 s)" '1\n2\nw\nx\n' 12700844
# 345600000 samples are planned; past 2^24 sample numbers round to floats 32
# apart, so a 7201st click starts 16 samples before the end and is written
# whole: 345604784 samples in all.
bench "one hour (96000/24, 3600 s)" '4\n2\nm\n1800\nw\nx\n' 1036814396
w_ratio=$last_ratio w_kib=$last_kib
# The command line lays every beat at its exact time: 345600000 samples.
bench "one hour, clicktrack render" 'render -r 96000 -m 1800' 1036800044
echo "one hour, render: time ratio $last_ratio, peak $last_kib KiB"
render_ratio=$last_ratio render_kib=$last_kib
# An hour of tempo changes with sixteenths: 30 pairs of sections of about
# 60 s each, 100 to 140 bpm and back (120 beats at a mean of 119 bpm each).
for i in $(seq 30); do printf '30 100-140\n30 140-100\n'; done > "$folder/hour-map.txt"
bench "one hour of ramps, sixteenths" \
      "render -r 96000 --map $folder/hour-map.txt --subdivide 4" 0
echo "one hour of ramps and sixteenths: time ratio $last_ratio, peak $last_kib KiB"
rm -f "$folder/hour-map.txt"
last_ratio=$(awk -v a="$w_ratio" -v b="$render_ratio" -v c="$last_ratio" \
             'BEGIN { m = (a > b) ? a : b; print (m > c) ? m : c }')
most_kib=$(( w_kib > render_kib ? w_kib : render_kib ))
last_kib=$(( most_kib > last_kib ? most_kib : last_kib ))

verdict="aim missed"
if awk -v r="$last_ratio" -v k="$last_kib" 'BEGIN { exit !(r <= 1.1 && k < 8192) }'; then
    verdict="aim met"
fi
echo "one hour, w, render and the map of ramps: worst time ratio $last_ratio (aim 1.10 or less), peak $last_kib KiB (aim under 8192): $verdict"
