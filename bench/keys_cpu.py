#!/usr/bin/env python3
"""CPU of playback held to real time: `clicktrack play` with its keys and the
stage display (--big) on a terminal, the same without a terminal, and aplay
playing the very frames captured, each for SECONDS to ALSA's file plugin
drained at the byte rate by tests/support/pacer.py.

Usage: bench/keys_cpu.py [clicktrack-binary [seconds]]
"""
import os
import pty
import select
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
binary = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "clicktrack"))
seconds = sys.argv[2] if len(sys.argv) > 2 else "20"
pacer = os.path.join(here, "..", "tests", "support", "pacer.py")
work = tempfile.mkdtemp()
fifo, cap = os.path.join(work, "speaker"), os.path.join(work, "cap.raw")
os.mkfifo(fifo)
with open(os.path.join(work, ".asoundrc"), "w") as f:
    f.write('pcm.cap {\n type file\n slave.pcm "null"\n file "%s"\n format "raw"\n}\n' % fifo)
env = dict(os.environ, HOME=work)
play = [binary, "play", "-d", "cap", "-t", "120", "--subdivide", "2", "--seconds", seconds]


def speaker():
    return subprocess.Popen([sys.executable, pacer, fifo, cap, "132300"], start_new_session=True)


def report(name, usage):
    print("%-28s user %.3f s, sys %.3f s" % (name, usage.ru_utime, usage.ru_stime))


s = speaker()
pid, fd = pty.fork()
if pid == 0:
    os.environ["HOME"] = work
    os.execv(binary, play + ["--big"])
while True:
    if select.select([fd], [], [], 0.1)[0]:
        try:
            os.read(fd, 65536)
        except OSError:
            break
report("clicktrack, keys and --big", os.wait4(pid, 0)[2])
s.wait()
os.rename(cap, os.path.join(work, "frames.raw"))
for name, command in (("clicktrack, no terminal", play + ["-q"]),
                      ("aplay, the same frames", ["aplay", "-q", "-D", "cap", "-t", "raw", "-f", "S24_3LE",
                                                  "-r", "44100", "-c", "1", os.path.join(work, "frames.raw")])):
    s = speaker()
    p = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL)
    report(name, os.wait4(p.pid, 0)[2])
    s.wait()
