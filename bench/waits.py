#!/usr/bin/env python3
"""bench/waits.py: runs a command and splits its wall time into running, waiting for a
CPU and waiting for anything else (I/O, mostly), on a machine that may be shared.

Prints one line to standard error:
  wall W s, on CPU C s (user U, system S), waiting for a CPU Q s, other waits O s, peak RSS M MB
"waiting for a CPU" is the time the command's main thread spent runnable in the run
queue (/proc/PID/schedstat, sampled every 50 ms until it ends, so the last moments may
be missed); "other waits" is what is left: blocking reads, fsync, page-cache writeback.
The command's own output goes where it would; the exit status is the command's.

Usage: bench/waits.py COMMAND [ARGUMENT...]
"""
import os
import resource
import sys
import time


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        try:
            os.execvp(sys.argv[1], sys.argv[1:])
        finally:
            os._exit(127)
    queued_ns = 0
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done:
            break
        try:
            with open(f"/proc/{pid}/schedstat") as f:
                queued_ns = int(f.read().split()[1])
        except (OSError, ValueError, IndexError):
            pass
        time.sleep(0.05)
    wall = time.monotonic() - start
    cpu = usage.ru_utime + usage.ru_stime
    queued = queued_ns / 1e9
    print(f"wall {wall:.2f} s, on CPU {cpu:.2f} s (user {usage.ru_utime:.2f}, system {usage.ru_stime:.2f}), "
          f"waiting for a CPU {queued:.2f} s, other waits {max(0.0, wall - cpu - queued):.2f} s, "
          f"peak RSS {usage.ru_maxrss / 1024:.0f} MB", file=sys.stderr)
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main())
