#!/usr/bin/env python3
"""Feeds a pipe source of the test sound server at a rate slightly off its declared one, so that the
source behaves like a device whose clock runs fast (or slow): a short 1 kHz click at the start of every
second of the device's own samples, silence between. Paced by the monotonic clock; what the server does
not take in time is dropped, as a real device would.
Arguments: the FIFO, the declared rate, the clock's error in parts per million."""
import fcntl
import math
import os
import struct
import sys
import time

fifo, rate, ppm = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
real_rate = rate * (1 + ppm / 1e6)
click = [0.5 * math.sin(2 * math.pi * 1000 * i / rate) for i in range(rate // 100)]
period = [0.0] * rate
period[:len(click)] = click
second = struct.pack(f"<{rate}f", *period)

fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
# A small pipe: what waits in it is at most a few milliseconds stale when the server reads it.
fcntl.fcntl(fd, getattr(fcntl, "F_SETPIPE_SZ", 1031), 4096)
start = time.monotonic()
written = 0
while True:
    due = int((time.monotonic() - start) * real_rate)
    while written < due:
        count = min(due - written, 256)
        offset = written % rate
        count = min(count, rate - offset)
        try:
            os.write(fd, second[offset * 4:(offset + count) * 4])
        except BlockingIOError:
            pass
        except BrokenPipeError:
            sys.exit(0)
        written += count
    time.sleep(0.01)
