#!/usr/bin/python3
"""Renders a tempo map with its MIDI file and reads both back with readers
no one here wrote: the wave file with Python's wave module, the MIDI file
with mido. Every beat note of the MIDI file (velocity 100), placed in time
by the conductor track's tempo map, must land within one sample of
its click in the wave file, and there must be as many notes as clicks.

A click starts with a sample of exactly 0 and then a non-zero one, after
silence: its onset is the first non-zero sample after a run of zeros, less
one. A sine's zero crossing inside a click can give a single zero sample, so
a run counts as silence from MIN_SILENCE samples on (or at the file's start).
The map must have clicks that end before the next one starts (no
--subdivide).

Usage: tests/midi/midi_readback.py PROGRAM MAP [RENDER OPTIONS...]
(--rate among the options sets the wave file's rate; 48000 by default)
Exit status 0 when every beat agrees, 1 otherwise.
"""
import bisect
import os
import subprocess
import sys
import tempfile
import wave
from fractions import Fraction

import mido

RATE = 48000
MIN_SILENCE = 16
BEAT_VELOCITY = 100


def click_onsets(path, rate):
    with wave.open(path, "rb") as w:
        if w.getframerate() != rate or w.getsampwidth() != 3 or w.getnchannels() != 1:
            raise SystemExit(f"{path}: not {rate} Hz, 24-bit, one channel")
        data = w.readframes(w.getnframes())
    onsets = []
    zeros = MIN_SILENCE  # the file's start counts as silence
    for n in range(0, len(data), 3):
        if data[n:n + 3] == b"\0\0\0":
            zeros += 1
            continue
        if zeros >= MIN_SILENCE:
            onsets.append(n // 3 - 1)
        zeros = 0
    return onsets


def beat_times(path):
    """Seconds of every beat note, as exact fractions, and the tempo events."""
    midi = mido.MidiFile(path)
    if midi.type != 1 or len(midi.tracks) != 2:
        raise SystemExit(f"{path}: not a format 1 file of two tracks")
    tempos = []  # (tick, microseconds a quarter)
    tick = 0
    for message in midi.tracks[0]:
        tick += message.time
        if message.type == "set_tempo":
            tempos.append((tick, message.tempo))
    if not tempos or tempos[0][0] != 0:
        raise SystemExit(f"{path}: no tempo at tick 0")
    # Seconds at each tempo event, the tempo map merged into one timeline.
    starts = [Fraction(0)]
    for (tick, tempo), (next_tick, _) in zip(tempos, tempos[1:]):
        starts.append(starts[-1] + to_seconds(next_tick - tick, tempo, midi.ticks_per_beat))
    tempo_ticks = [t for t, _ in tempos]
    times = []
    tick = 0
    for message in midi.tracks[1]:
        tick += message.time
        if message.type == "note_on" and message.velocity == BEAT_VELOCITY:
            i = bisect.bisect_right(tempo_ticks, tick) - 1
            times.append(starts[i] + to_seconds(tick - tempos[i][0], tempos[i][1], midi.ticks_per_beat))
    return times, len(tempos)


def to_seconds(ticks, tempo, per_quarter):
    return Fraction(ticks * tempo, per_quarter * 1000000)


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    program, map_file = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as folder:
        wav = os.path.join(folder, "x.wav")
        mid = os.path.join(folder, "x.mid")
        extra = sys.argv[3:]
        rate = int(extra[extra.index("--rate") + 1]) if "--rate" in extra else RATE
        command = [program, "render", "--map", map_file, "--rate", str(rate), "--bits", "24",
                   "-o", wav, "--midi", mid, "--quiet"] + extra
        run = subprocess.run(command, cwd=folder, capture_output=True, text=True)
        if run.returncode != 0:
            raise SystemExit(f"{' '.join(command)}: status {run.returncode}\n{run.stdout}{run.stderr}")
        onsets = click_onsets(wav, rate)
        times, tempo_events = beat_times(mid)
        # A second reader, midicsv, must take the file whole and see the same tempos.
        csv = subprocess.run(["midicsv", mid], capture_output=True, text=True)
        if csv.returncode != 0 or csv.stderr:
            print(f"midicsv: status {csv.returncode}\n{csv.stderr}")
            return 1
        csv_tempos = sum(1 for line in csv.stdout.splitlines() if ", Tempo, " in line)
        if csv_tempos != tempo_events:
            print(f"midicsv reads {csv_tempos} tempo events, mido {tempo_events}")
            return 1
    if len(times) != len(onsets):
        print(f"{len(times)} beat notes, {len(onsets)} clicks")
        return 1
    # Within one sample at the wave file's rate.
    worst = max(abs(t - Fraction(f, rate)) for t, f in zip(times, onsets))
    late = [(i, float(t), f) for i, (t, f) in enumerate(zip(times, onsets))
            if abs(t - Fraction(f, rate)) > Fraction(1, rate)]
    for i, t, f in late[:10]:
        print(f"beat {i}: MIDI {t:.6f} s, click at sample {f} ({f / rate:.6f} s)")
    print(f"{len(times)} beats, {tempo_events} tempo events, "
          f"largest distance {float(worst) * 1e6:.2f} us (one sample: {1e6 / rate:.2f} us)")
    return 1 if late else 0


if __name__ == "__main__":
    sys.exit(main())
