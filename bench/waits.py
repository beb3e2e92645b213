#!/usr/bin/env python3
"""bench/waits.py: runs a command and splits its wall time into running, waiting for a
CPU and waiting for anything else (I/O, mostly), on a machine that may be shared.

Prints one line to standard error:
  wall W s, on CPU C s (user U, system S), waiting for a CPU Q s, other waits O s, peak RSS M MB
"waiting for a CPU" is the time the command and every process it started spent
runnable in a run queue (/proc/PID/schedstat of each, sampled every 50 ms until it
ends, so the last moments of each may be missed); "other waits" is what is left:
blocking reads, fsync, page-cache writeback. Wall less the CPU wait is about what the
command takes on a machine nobody else uses. With -o FILE, "W C Q" also goes to FILE.
The command's own output goes where it would; the exit status is the command's.

Usage: bench/waits.py [-o FILE] COMMAND [ARGUMENT...]
"""
import os
import sys
import time


def children_map():
    parent_of = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat") as f:
                stat = f.read()
            parent_of[int(name)] = int(stat[stat.rindex(")") + 2:].split()[1])
        except (OSError, ValueError, IndexError):
            pass
    children = {}
    for pid, ppid in parent_of.items():
        children.setdefault(ppid, []).append(pid)
    return children


def tree_queue_ns(root, seen):
    """Updates seen[pid] with the run-queue time of root and its descendants."""
    children = children_map()
    todo = [root]
    while todo:
        pid = todo.pop()
        todo.extend(children.get(pid, []))
        try:
            with open(f"/proc/{pid}/schedstat") as f:
                seen[pid] = max(seen.get(pid, 0), int(f.read().split()[1]))
        except (OSError, ValueError, IndexError):
            pass


def main():
    args = sys.argv[1:]
    out = None
    if len(args) >= 2 and args[0] == "-o":
        out, args = args[1], args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        try:
            os.execvp(args[0], args)
        finally:
            os._exit(127)
    seen = {}
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done:
            break
        tree_queue_ns(pid, seen)
        time.sleep(0.05)
    wall = time.monotonic() - start
    cpu = usage.ru_utime + usage.ru_stime
    queued = sum(seen.values()) / 1e9
    print(f"wall {wall:.2f} s, on CPU {cpu:.2f} s (user {usage.ru_utime:.2f}, system {usage.ru_stime:.2f}), "
          f"waiting for a CPU {queued:.2f} s, other waits {max(0.0, wall - cpu - queued):.2f} s, "
          f"peak RSS {usage.ru_maxrss / 1024:.0f} MB", file=sys.stderr)
    if out:
        with open(out, "w") as f:
            f.write(f"{wall:.3f} {cpu:.3f} {queued:.3f}\n")
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main())
