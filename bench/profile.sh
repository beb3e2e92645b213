#!/usr/bin/env bash
# bench/profile.sh: where the time and the memory of compaction, check and the whole
# procedure go, on one workload file (run by hand, after bench/run.sh has made it).
#
# For each operation: perf record (cpu-clock samples with DWARF call chains: no
# hardware counters are needed) with the command's wall time split into on CPU,
# waiting for a CPU and other waits (bench/waits.py), the breakdown by phase and cost kind
# (bench/phases.py), the hottest functions by self time; then heaptrack with its peak
# heap and the allocations alive at the peak. Reports go to standard output and to
# build/bench/profile/NAME.txt; the raw perf data, the call chains as text (NAME-OP.script,
# for bench/phases.py) and the heaptrack data stay beside it.
#
# Usage: bench/profile.sh [--ops LIST] [--no-heaptrack] FILE.mdb
#   --ops LIST      comma-separated among compact,check,repair,repair-d,click
#                   (default: compact,check,click); repair is of an undamaged copy,
#                   repair-d of the damaged copy bench/run.sh repairs (bench/damage.sh)
#   --no-heaptrack  perf only
# Environment: BUILD_DIR (default build/bench/release, configured by bench/run.sh;
# Release with -g, so that perf sees inlined functions), FREQ (samples per second,
# default 250).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build/bench/release}"
FREQ="${FREQ:-250}"
OPS="compact,check,click"
HEAPTRACK=1
while [ $# -gt 1 ]; do
  case "$1" in
    --ops) OPS="$2"; shift 2 ;;
    --no-heaptrack) HEAPTRACK=0; shift ;;
    *) echo "profile.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# = 1 ] && [ -f "$1" ] || { sed -n '2,/^set -euo/p' "$0" | sed '$d'; exit 2; }
for tool in perf heaptrack heaptrack_print; do
  command -v "$tool" >/dev/null || { echo "profile.sh: $tool is missing (Debian: linux-perf, heaptrack)" >&2; exit 1; }
done

JETDB="$BUILD_DIR/tools/jetdb/jetdb"
PROBE="$BUILD_DIR/app/zivadiduz-probe"
[ -x "$JETDB" ] && [ -x "$PROBE" ] || { echo "profile.sh: build jetdb and zivadiduz-probe in $BUILD_DIR first" >&2; exit 1; }
NAME=$(basename "$1" .mdb)
OUT="$ROOT/build/bench/profile"
WORK="$OUT/work"
REPORT="$OUT/$NAME.txt"
mkdir -p "$OUT"
rm -rf "$WORK"
mkdir -p "$WORK"
SRC="$WORK/source.mdb"
cp "$1" "$SRC"  # in the page cache, as in bench/run.sh

# Sets up what operation $1 needs and prints its command line, one word a line.
prepare() {
  rm -f "$WORK/compacted.mdb"
  case "$1" in
    compact) printf '%s\n' "$JETDB" compact "$SRC" "$WORK/compacted.mdb" ;;
    check) printf '%s\n' "$JETDB" check "$SRC" ;;
    repair)
      cp "$SRC" "$WORK/copy.mdb"
      printf '%s\n' "$JETDB" repair "$WORK/copy.mdb" ;;
    repair-d)
      "$ROOT/bench/damage.sh" "$BUILD_DIR/tools/damage/jetdb-damage" "$SRC" "$WORK/copy.mdb" >/dev/null
      printf '%s\n' "$JETDB" repair -q "$WORK/copy.mdb" ;;
    click)
      rm -rf "$WORK/program" "$WORK/data"
      mkdir -p "$WORK/program" "$WORK/data"
      cp "$PROBE" "$WORK/program/zivadiduz-probe"
      printf '[Files]\r\nDatabasePath=%s\r\n' "$WORK/data" >"$WORK/program/morvik.ini"
      cp "$SRC" "$WORK/data/morvik.mdb"
      printf '%s\n' "$WORK/program/zivadiduz-probe" --click ;;
    *) echo "profile.sh: unknown operation $1" >&2; exit 2 ;;
  esac
}

{
  echo "# $NAME ($(stat -c %s "$SRC") bytes), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  IFS=',' read -r -a ops <<<"$OPS"
  for op in "${ops[@]}"; do
    mapfile -t cmd < <(prepare "$op")
    data="$OUT/$NAME-$op.perf.data"
    perf record -q -e cpu-clock -F "$FREQ" --call-graph dwarf,16384 -o "$data" -- \
      python3 "$ROOT/bench/waits.py" "${cmd[@]}" >/dev/null 2>"$WORK/waits.txt" || true
    echo
    echo "## $op under perf: $(tail -n 1 "$WORK/waits.txt")"
    perf script --inline -i "$data" 2>/dev/null >"$OUT/$NAME-$op.script"
    python3 "$ROOT/bench/phases.py" --label "$op" <"$OUT/$NAME-$op.script"
    echo "-- hottest functions (self, share of samples)"
    perf report -i "$data" --no-children --sort symbol --percent-limit 1.5 --stdio 2>/dev/null |
      grep -E '^ +[0-9.]+%' | sed 's/  */ /g' | cut -c1-150 | head -25
    if [ "$HEAPTRACK" = 1 ]; then
      mapfile -t cmd < <(prepare "$op")
      rm -f "$OUT/$NAME-$op.heaptrack".*
      heaptrack -o "$OUT/$NAME-$op.heaptrack" "${cmd[@]}" >/dev/null 2>&1 || true
      ht=$(ls "$OUT/$NAME-$op.heaptrack".* 2>/dev/null | head -1)
      echo "-- heap (heaptrack): the allocations alive at the peak, by call path"
      heaptrack_print -f "$ht" -p 1 -a 0 -T 0 -n 8 -s 3 2>/dev/null | python3 "$ROOT/bench/heap_peaks.py"
      heaptrack_print -f "$ht" -p 0 -a 0 -T 0 2>/dev/null |
        grep -E '^(peak heap|peak RSS|calls to allocation|temporary memory)'
    fi
  done
} 2>&1 | tee "$REPORT"
rm -rf "$WORK"
