#!/usr/bin/env python3
"""bench/heap_peaks.py: the allocations alive at the heap's peak, one line each.

Reads `heaptrack_print -p 1` output on standard input and prints, per peak consumer
(and per call path of a merged one), the bytes alive at the peak and the project's
own functions on its call path, innermost first, without the standard library's.

Usage: heaptrack_print -f FILE -p 1 -a 0 -T 0 -n 8 -s 3 | bench/heap_peaks.py
"""
import re
import sys

OWN = re.compile(r"^(jet::|jetdb::|repair::|services::|app::|main$|[A-Z][A-Za-z]+$)")


def own_frames(frames):
    out = []
    for f in frames:
        name = re.sub(r"\(.*$", "", f).strip()
        if OWN.match(name) and name not in out:
            out.append(name)
    return out


def main():
    on = False
    entries = []  # (bytes text, calls, frames)
    current = None
    for line in sys.stdin:
        line = line.rstrip("\n")
        if line.startswith("PEAK MEMORY CONSUMERS"):
            on = True
            continue
        if not on:
            continue
        if line.startswith(("MOST CALLS", "MOST TEMPORARY", "total runtime", "calls to allocation")):
            break
        m = re.match(r"^\s*([0-9.]+[KMG]?B?) (?:peak memory )?consumed over (\d+) calls from", line)
        if m:
            current = [m.group(1), m.group(2), [], "peak memory" not in line]
            entries.append(current)
            continue
        if current is None or not line.strip() or line.strip().startswith(("at ", "in ", "and ")):
            continue
        current[2].append(line.strip())
    for size, calls, frames, nested in entries:
        path = own_frames(frames)
        # The merged head entry names only the allocating function; its call paths follow.
        indent = "    " if nested else ""
        print(f"{indent}{size:>8s} in {calls:>6s} calls  {' <- '.join(path[:6])}")


if __name__ == "__main__":
    main()
