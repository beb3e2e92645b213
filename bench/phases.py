#!/usr/bin/env python3
"""bench/phases.py: where a perf profile's time goes, by phase and by cost kind.

Reads `perf script` output (call chains, recorded with --call-graph) on standard input
and prints two tables of shares of the samples:

  phase  each sample goes to the first phase (in the order of PHASES) whose functions
         all appear on its stack; the phases follow the engine's top-level steps
  kind   cross-cutting costs, each counted on its own (a sample may be in several):
         the leaf in the kernel, in malloc/free, in memcpy/memmove/memcmp, anywhere
         under an index walk, an entry sort, a row fetch, a row-map lookup

Usage: perf script -i perf.data | bench/phases.py [--label NAME]
"""
import re
import sys

# (phase name, functions that must all be on the stack). Functions are matched as
# substrings of the demangled frame names, so "CopyRows" matches
# "jet::(anonymous namespace)::CopyRows(...)"; "A|B" is either. Functions the compiler inlined (WriteFile
# into Compact, say) are on the stack only when perf script is given --inline and the
# binary has debug information.
PHASES = [
    # the whole procedure (zivadiduz-probe --click)
    ("procedure: backup / copy-back (FileCopy)", ["services::FileCopy"]),
    ("procedure: byte comparison with the backup", ["SameContents"]),
    # the compaction's self-verification
    ("compact verify: rows (and the keys computed from them; both halves' threads)", ["CompareRows|CompareRowRange"]),
    ("compact verify: indexes (walk of the result, second thread)", ["WalkResultIndex"]),
    ("compact verify: indexes (on the verifying thread)", ["CompareIndexes"]),
    ("compact verify: indexes (on the verifying thread)",
     ["VerifyCompaction", "WalkIndex|EntrySorter|SortMappedIndexEntries"]),
    ("compact verify: open, catalog, definitions", ["VerifyCompaction"]),
    # the compaction's writing pass
    ("compact write: index rebuild (walk + sort + pages)", ["BuildIndexes", "WriteTable|WriteFile"]),
    ("compact write: index pages copied from the plan", ["WriteIndexes", "WriteTable|WriteFile"]),
    ("compact write: data pages copied from the plan", ["CopyPlannedPages", "WriteTable|WriteFile"]),
    ("compact write: row copy (rows + long values)", ["CopyRows", "WriteTable|WriteFile"]),
    ("compact write: maps, definitions, sync", ["WriteTable|WriteFile"]),
    # the compaction's planning
    ("compact plan: index page count (walk + sort)", ["BuildIndexes"]),
    ("compact plan: row copy dry run", ["CopyRows"]),
    ("compact plan: primary-key row order (scan + walk + sort)", ["OrderRows"]),
    # the check (also the repair's first step)
    # (inlined frames carry the bare function name, so no "Checker::" here)
    ("check: index walks (count + fingerprint of the entries)", ["CheckIndex|CompareIndexEntries|WalkIndexPage|VisitLeaf"]),
    ("check: rows: index keys computed from the values", ["CheckRows", "EncodeIndexKey|AppendIndexKeyColumn"]),
    ("check: rows: long values", ["CheckRows", "LongValue"]),
    ("check: rows: decoding and checking", ["CheckRows"]),
    ("check: header, maps, catalog, definitions", ["CheckPageFile"]),
    ("repair: rest", ["RepairDatabase"]),
    ("open database / catalog", ["Database::Open"]),
    # Samples in libc whose callers the DWARF unwinder did not recover: by what they do.
    ("unattributed (no caller): pread, reading pages", ["__libc_pread64"]),
    ("unattributed (no caller): read, copying a file", ["__libc_read"]),
    ("unattributed (no caller): pwrite, writing pages", ["__libc_pwrite64"]),
    ("unattributed (no caller): fsync", ["fsync"]),
    ("unattributed (no caller): memcpy / memmove / memcmp", ["memcpy|memmove|memcmp"]),
    ("unattributed (no caller): malloc / free", ["malloc|_int_free|libc_free"]),
]

KINDS = [
    ("kernel (system calls, page faults, page cache copies)", lambda st: st[0][1] == "kernel"),
    ("malloc / free / new / delete (leaf)",
     lambda st: re.search(r"(malloc|_int_free|libc_free|cfree|realloc|operator new|operator delete|"
                          r"malloc_consolidate|unlink_chunk|tcache)", st[0][0]) is not None),
    ("memcpy / memmove / memcmp / memset (leaf)",
     lambda st: re.search(r"mem(cpy|move|cmp|set)", st[0][0]) is not None),
    ("under an index walk (WalkIndex)", lambda st: any("WalkIndex" in f for f, _ in st)),
    ("under an entry sort (EntrySorter)", lambda st: any("EntrySorter" in f for f, _ in st)),
    ("building the row map (CompactedTable::IndexRowMap)", lambda st: any("IndexRowMap" in f for f, _ in st)),
    ("under a row fetch (RowFetcher::Fetch)", lambda st: any("RowFetcher::Fetch" in f for f, _ in st)),
    ("under a row-map lookup (CompactedTable::MapRow)", lambda st: any("CompactedTable::MapRow" in f for f, _ in st)),
    ("under a long-value read (LongValueReader)", lambda st: any("LongValueReader" in f for f, _ in st)),
    ("under index key encoding (EncodeIndexKey)", lambda st: any("EncodeIndexKey" in f for f, _ in st)),
    ("under page writes (PageWriter)", lambda st: any("PageWriter::" in f for f, _ in st)),
]

FRAME = re.compile(r"^\s+[0-9a-f]+\s+(.*?)\s+\((.*)\)$")


def samples(lines):
    stack = []
    for line in lines:
        line = line.rstrip("\n")
        if not line.strip():
            if stack:
                yield stack
            stack = []
            continue
        m = FRAME.match(line)
        if not m:
            continue  # the sample's header line
        sym, dso = m.group(1), m.group(2)
        # The function's name only: argument lists name other types ("EntrySorter*").
        sym = re.sub(r"\+0x[0-9a-f]+$", "", sym).replace("(anonymous namespace)", "{anonymous}")
        sym = sym.split("(", 1)[0]
        stack.append((sym, "kernel" if "kernel" in dso or dso.startswith("[") else dso))
    if stack:
        yield stack


def main():
    label = ""
    if len(sys.argv) == 3 and sys.argv[1] == "--label":
        label = sys.argv[2]
    phase_counts = dict.fromkeys(name for name, _ in PHASES)
    phase_counts = {name: 0 for name in phase_counts}
    phase_counts["other"] = 0
    kind_counts = {name: 0 for name, _ in KINDS}
    total = 0
    for st in samples(sys.stdin):
        total += 1
        names = [f for f, _ in st]
        for name, needed in PHASES:
            if all(any(alt in f for alt in n.split("|") for f in names) for n in needed):
                phase_counts[name] += 1
                break
        else:
            phase_counts["other"] += 1
        for name, test in KINDS:
            if test(st):
                kind_counts[name] += 1
    if total == 0:
        print("no samples")
        return
    attributed = sum(c for name, c in phase_counts.items() if not name.startswith("unattributed") and name != "other")
    print(f"== {label}: {total} samples (on-CPU time), {attributed} with their phase")
    print(f"{'phase':60s} {'share':>7s} {'of those with a phase':>22s}")
    for name, count in phase_counts.items():
        if count:
            of_attributed = "" if name.startswith("unattributed") or name == "other" else \
                f"{100.0 * count / max(1, attributed):21.1f}%"
            print(f"{name:60s} {100.0 * count / total:6.1f}% {of_attributed}")
    print(f"{'cost kind':60s} {'share':>7s}")
    for name, count in kind_counts.items():
        print(f"{name:60s} {100.0 * count / total:6.1f}%")


if __name__ == "__main__":
    main()
