#!/usr/bin/env bash
# bench/run.sh: the engine's performance benchmark, run by hand (not in CI).
#
# Builds jetdb and zivadiduz-probe (Release), makes the large workload files once
# under build/bench/ with `jetdb create --rows` from bench/schema.json (Jet 4 files from
# bench/schema-jet4.json: the same tables, with the descending index on a date column
# instead of a text column, since the engine writes no Jet 4 descending text key it
# has not seen Access write), and then, on
# each workload file and on a few real Access-written files, runs side by side:
#
#   cp+sync   cp of the file and an fsync of the copy: the baseline (the engine
#             flushes what it writes, so the baseline does too)
#   compact   jetdb compact (self-verification included)
#   repair    jetdb repair of an undamaged copy
#   check     jetdb check
#   click     the whole repair procedure (CleanDatabase) through
#             `zivadiduz-probe --click` in a prepared program folder
#   export    mdb-export of every table (what mdbtools offers today)
#
# Each as seconds, as a ratio to the baseline of the same file in the same run, as
# milliseconds per MB of the source, and with its peak resident memory (from
# /usr/bin/time -v). The table goes to standard output and to build/bench/results.txt.
#
# Usage: bench/run.sh [--sizes LIST] [--no-real] [--no-export]
#   --sizes LIST  comma-separated workloads among j3-100,j3-400,j3-1g,j4-1g,j4-2g
#                 (default: all of them); e.g. --sizes j3-100,j3-400 for a short run
#   --no-real     leave out the real test files
#   --no-export   leave out mdb-export (it takes tens of times the baseline)
# Environment: BUILD_DIR (default build/bench/release), TESTDATA (default
# ../shared/testdata beside the checkout). Only build/bench/ is ever written to.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BENCH="$ROOT/build/bench"
BUILD_DIR="${BUILD_DIR:-$BENCH/release}"
TESTDATA="${TESTDATA:-$ROOT/../shared/testdata}"
SIZES="j3-100,j3-400,j3-1g,j4-1g,j4-2g"
REAL=1
EXPORT=1

while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) SIZES="$2"; shift 2 ;;
    --sizes=*) SIZES="${1#--sizes=}"; shift ;;
    --no-real) REAL=0; shift ;;
    --no-export) EXPORT=0; shift ;;
    -h|--help) sed -n '2,30p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

[ -x /usr/bin/time ] || { echo "run.sh: /usr/bin/time is missing (Debian package: time)" >&2; exit 1; }
mkdir -p "$BENCH"

echo "== building (Release) in $BUILD_DIR"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZIVADIDUZ_QT=OFF >/dev/null
fi
ninja -C "$BUILD_DIR" -j2 jetdb zivadiduz-probe >/dev/null
JETDB="$BUILD_DIR/tools/jetdb/jetdb"
PROBE="$BUILD_DIR/app/zivadiduz-probe"

# --- Workloads ----------------------------------------------------------------------

schema_for() {  # format
  if [ "$1" = jet4 ]; then echo "$ROOT/bench/schema-jet4.json"; else echo "$ROOT/bench/schema.json"; fi
}

# Rows per table for a file of about TARGET_MB, from a small calibration file.
rows_for() {  # format target_mb
  local cal="$BENCH/calibrate-$1.mdb"
  if [ ! -f "$cal" ]; then
    "$JETDB" create --format "$1" --rows 2000 --seed 7 "$(schema_for "$1")" "$cal" >/dev/null
  fi
  local bytes
  bytes=$(stat -c %s "$cal")
  echo $(( $2 * 1048576 * 2000 / bytes ))
}

make_workload() {  # name format target_mb
  local file="$BENCH/$1.mdb"
  if [ -f "$file" ]; then return; fi
  local rows
  rows=$(rows_for "$2" "$3")
  echo "== making $1.mdb ($2, ~$3 MB, $rows rows per table)"
  /usr/bin/time -f "   made in %e s, peak %M KB" \
    "$JETDB" create --format "$2" --rows "$rows" --seed 1 "$(schema_for "$2")" "$file.part" >/dev/null
  mv "$file.part" "$file"
}

FILES=()
IFS=',' read -r -a wanted <<<"$SIZES"
for w in "${wanted[@]}"; do
  case "$w" in
    j3-100) make_workload j3-100 jet3 100 ;;
    j3-400) make_workload j3-400 jet3 400 ;;
    j3-1g) make_workload j3-1g jet3 960 ;;  # Jet 3 stops at 524,288 pages (1 GiB)
    j4-1g) make_workload j4-1g jet4 1024 ;;
    j4-2g) make_workload j4-2g jet4 2048 ;;
    *) echo "run.sh: unknown size $w" >&2; exit 2 ;;
  esac
  FILES+=("$BENCH/$w.mdb")
done
if [ "$REAL" = 1 ]; then
  if [ -d "$TESTDATA" ]; then
    for f in jet3/nwind.mdb jet3/jk_indexcodes.mdb jet4/sqlp_northwind.mdb jet4/asp_test.mdb; do
      [ -f "$TESTDATA/$f" ] && FILES+=("$TESTDATA/$f")
    done
  else
    echo "== no real test files ($TESTDATA is absent)"
  fi
fi

# --- Measuring ----------------------------------------------------------------------

WORK="$BENCH/work"
RESULTS="$BENCH/results.txt"
rm -rf "$WORK"
mkdir -p "$WORK"

# Runs the command, puts "seconds peak_kb exit_status" in $MEASURED.
measure() {
  local out="$WORK/time.txt" rc=0
  /usr/bin/time -v -o "$out" "$@" >"$WORK/stdout.txt" 2>"$WORK/stderr.txt" || rc=$?
  local wall kb
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$out")
  kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$out")
  MEASURED="$(echo "$wall" | awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; printf "%.3f", s }') $kb $rc"
}

# A fresh copy of the file at $2, in the page cache like the source.
fresh_copy() { rm -f "$2"; cp "$1" "$2"; }

export_all() {  # file
  local t
  mdb-tables -1 "$1" | while IFS= read -r t; do
    [ -n "$t" ] && mdb-export "$1" "$t" >/dev/null
  done
}
export -f export_all

printf '%s\n' "machine: $(nproc) cores, $(free -m | awk '/^Mem:/ { print $2 }') MB memory; $(date -u '+%F %T') UTC" >"$RESULTS"
printf '%-22s %8s  %-8s %9s %7s %9s %9s  %s\n' file MB operation seconds ratio ms/MB "peak MB" status >>"$RESULTS"

report() {  # file mb operation baseline
  local name mb op base secs kb rc
  name=$1 mb=$2 op=$3 base=$4
  read -r secs kb rc <<<"$MEASURED"
  awk -v n="$name" -v mb="$mb" -v op="$op" -v s="$secs" -v b="$base" -v kb="$kb" -v rc="$rc" 'BEGIN {
    ratio = b > 0 ? s / b : 0
    printf "%-22s %8.1f  %-8s %9.2f %7.2f %9.2f %9.1f  %s\n", n, mb, op, s, ratio, 1000 * s / mb, kb / 1024, rc == 0 ? "ok" : "exit " rc
  }' >>"$RESULTS"
  tail -n 1 "$RESULTS"
}

PROGRAM="$WORK/program"
DATA="$WORK/data"

for src in "${FILES[@]}"; do
  name=$(basename "$src" .mdb)
  mb=$(awk -v b="$(stat -c %s "$src")" 'BEGIN { printf "%.1f", b / 1048576 }')
  echo "== $name ($mb MB)"
  copy="$WORK/copy.mdb"
  cp "$src" "$WORK/source.mdb"  # read once so every run finds it cached
  chmod u+w "$WORK/source.mdb"   # the real test files are read-only; a database is not
  src="$WORK/source.mdb"

  rm -f "$copy"
  measure bash -c 'cp "$1" "$2" && sync "$2"' _ "$src" "$copy"
  base=$(echo "$MEASURED" | cut -d' ' -f1)
  report "$name" "$mb" "cp+sync" "$base"

  rm -f "$WORK/compacted.mdb"
  measure "$JETDB" compact "$src" "$WORK/compacted.mdb"
  report "$name" "$mb" compact "$base"
  rm -f "$WORK/compacted.mdb"

  fresh_copy "$src" "$copy"
  measure "$JETDB" repair "$copy"
  report "$name" "$mb" repair "$base"

  measure "$JETDB" check "$src"
  report "$name" "$mb" check "$base"

  rm -rf "$PROGRAM" "$DATA"
  mkdir -p "$PROGRAM" "$DATA"
  cp "$PROBE" "$PROGRAM/zivadiduz-probe"
  printf '[Files]\r\nDatabasePath=%s\r\n' "$DATA" >"$PROGRAM/morvik.ini"
  cp "$src" "$DATA/morvik.mdb"
  measure "$PROGRAM/zivadiduz-probe" --click
  grep -q 'MSGBOX style=64' "$WORK/stdout.txt" || MEASURED="${MEASURED% *} 99"  # not "hersteld"
  report "$name" "$mb" click "$base"
  rm -rf "$PROGRAM" "$DATA" "$copy"

  if [ "$EXPORT" = 1 ] && command -v mdb-export >/dev/null; then
    measure bash -c 'export_all "$1"' _ "$src"
    report "$name" "$mb" export "$base"
  fi
  rm -f "$src"
done

echo
echo "== results (also in $RESULTS)"
cat "$RESULTS"
