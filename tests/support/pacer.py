#!/usr/bin/env python3
"""Drains standard input at the byte rate of a sound card into a file.

ALSA's null device takes frames as fast as they come; written through the
file plugin into a pipe that this script drains at RATE bytes a second, the
player is held to the pace of a real device, and the file holds every frame
in the order played.

Usage: pacer.py FIFO OUT BYTES_A_SECOND [LOG]
  FIFO  the named pipe the file plugin writes into, made by the caller;
        started before the player, the script shrinks the pipe to a page
        before anything is written, so that the player runs little ahead
  LOG   when given, gets a line "SECONDS BYTES" after each read: the
        monotonic clock and the bytes taken so far.
Ends when the player closes the pipe.
"""
import fcntl
import os
import sys
import time

F_SETPIPE_SZ = 1031


def main():
    fifo, out_path, rate = sys.argv[1], sys.argv[2], int(sys.argv[3])
    log = open(sys.argv[4], "a") if len(sys.argv) > 4 else None
    pipe = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    try:
        fcntl.fcntl(pipe, F_SETPIPE_SZ, 4096)
    except OSError:
        pass
    # Held open for writing until the player's first bytes come, so that
    # the pipe has a writer and a read waits instead of ending.
    keep = os.open(fifo, os.O_WRONLY)
    os.set_blocking(pipe, True)
    start = time.monotonic()
    taken = 0
    # Never more than 20 ms owed: a player that fell behind does not rush.
    most = rate // 50
    with open(out_path, "ab", buffering=0) as out:
        while True:
            now = time.monotonic()
            allowed = int((now - start) * rate) - taken
            if allowed > most:
                start = now - (taken + most) / rate
                allowed = most
            if allowed <= 0:
                time.sleep(0.002)
                continue
            chunk = os.read(pipe, allowed)
            if keep is not None:
                os.close(keep)
                keep = None
            if not chunk:
                break
            out.write(chunk)
            taken += len(chunk)
            if log:
                log.write("%.6f %d\n" % (time.monotonic(), taken))
                log.flush()


if __name__ == "__main__":
    main()
