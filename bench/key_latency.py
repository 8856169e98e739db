#!/usr/bin/env python3
"""Time from a key to the first click it changes, as a listener hears it.

Plays a click track at 120 bpm on a terminal of its own, its frames taken
by ALSA's file plugin and drained at the byte rate by tests/support/pacer.py
(the "speaker"), and presses m (mute, unmute) PRESSES times at uneven
moments. For each press, the first beat laid after it in its new state is
found in the capture, and the moment the pacer took that beat's first frame
is read from its log: the latency is that moment less the press's.

Usage: bench/key_latency.py [clicktrack-binary [presses]]
"""
import bisect
import os
import pty
import random
import select
import statistics
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
binary = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "clicktrack")
presses = int(sys.argv[2]) if len(sys.argv) > 2 else 50
pacer = os.path.join(here, "..", "tests", "support", "pacer.py")
rate, beat = 44100, 22050

work = tempfile.mkdtemp()
cap, log = os.path.join(work, "cap.raw"), os.path.join(work, "pacer.log")
fifo = os.path.join(work, "speaker")
os.mkfifo(fifo)
with open(os.path.join(work, ".asoundrc"), "w") as f:
    f.write('pcm.cap {\n type file\n slave.pcm "null"\n file "%s"\n format "raw"\n}\n' % fifo)
speaker = subprocess.Popen([sys.executable, pacer, fifo, cap, str(rate * 3), log],
                           start_new_session=True)

pid, fd = pty.fork()
if pid == 0:
    os.environ["HOME"] = work
    os.execv(binary, [binary, "play", "-d", "cap", "-t", "120", "--loop"])


def drain(seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if select.select([fd], [], [], 0.02)[0]:
            try:
                os.read(fd, 4096)
            except OSError:
                return


drain(1.5)
pressed = []
random.seed(22)
for _ in range(presses):
    pressed.append(time.monotonic())
    os.write(fd, b"m")
    drain(0.9 + random.random() * 0.5)
os.write(fd, b"q")
drain(1.0)
os.waitpid(pid, 0)
speaker.wait()

data = open(cap, "rb").read()
marks = [tuple(map(float, line.split())) for line in open(log)]
times, taken = [m[0] for m in marks], [m[1] for m in marks]


def sounding(k):
    at = k * beat * 3
    return data[at:at + 300 * 3].strip(b"\0") != b""


def heard(frame):  # when the pacer took the frame's first byte
    i = bisect.bisect_right(taken, frame * 3)
    return times[min(i, len(times) - 1)]


beats = len(data) // 3 // beat
latencies = []
k = 0
for n, t in enumerate(pressed):
    state = n % 2 == 1  # after press n: muted for even n, sounding for odd
    # the beats heard before the press keep the old state
    while k < beats and heard(k * beat) < t:
        k += 1
    first = k
    while first < beats and sounding(first) != state:
        first += 1
    if first < beats:
        latencies.append(heard(first * beat) - t)
latencies.sort()
print("presses measured: %d" % len(latencies))
print("latency median: %.0f ms, worst: %.0f ms, best: %.0f ms" %
      (statistics.median(latencies) * 1000, latencies[-1] * 1000, latencies[0] * 1000))
