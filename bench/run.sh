#!/usr/bin/env bash
# bench/run.sh: the engine's performance benchmark, run by hand (not in CI).
#
# Builds jetdb and zivadiduz-probe (Release), makes the workload files under
# build/bench/ with `jetdb create`, and then, on each workload file and on a few real
# Access-written files, runs side by side:
#
#   cp+sync   cp of the file and an fsync of the copy: the baseline (the engine
#             flushes what it writes, so the baseline does too)
#   compact   jetdb compact (self-verification included)
#   repair    jetdb repair of an undamaged copy
#   repair-d  jetdb repair of a damaged copy: one page each of a table's data, its
#             definition, an index leaf and a usage map hit as a crash leaves them
#             (bench/damage.sh)
#   check     jetdb check
#   click     the whole repair procedure (CleanDatabase) through
#             `zivadiduz-probe --click` in a prepared program folder
#   export    mdb-export of every table (what mdbtools offers today)
#
# Each as seconds (the best of --repeat runs), as a ratio to the baseline of the same
# file in the same run, as milliseconds per MB of the source, with its peak resident
# memory (the highest of the runs, from /usr/bin/time -v), its CPU time (user +
# system) and its wall time. "Seconds" is the wall time less the time the processes
# waited for a CPU (bench/waits.py), so that a run on a machine others are loading
# still shows what the operation itself costs; on an idle machine the two agree. (For
# cp+sync, bound by the disk, this understates: its writeback goes on while it waits
# for a CPU. On a loaded machine the ratio to its wall time is the other bound.) The
# table goes to standard output and to build/bench/results.txt, with the core count
# and the load average before each file.
#
# On a virtual machine whose guest hands freed memory back to its host (free page
# reporting, /sys/module/page_reporting), every page the page cache takes beyond the
# memory it freed last is faulted in again, as system time: an operation that writes
# gigabytes (a damaged repair) pays for that and cp+sync does not. doc/performance.md
# (seventh round) says how to tell and how the figures there were taken.
#
# Workloads:
#   j3-100, j3-400, j3-1g   bench/schema.json as Jet 3, about 100 MB, 400 MB, 960 MB
#   j4-1g, j4-2g            bench/schema-jet4.json (the same tables, with the
#                           descending index on a date column instead of a text column,
#                           since the engine writes no Jet 4 descending text key it has
#                           not seen Access write), about 1 GB and 2 GB
#                           (these five are sized from a small calibration file)
#   o4-200, o4-1g, o4-2g    bench/schema-orders.json as Jet 4: a business's orders --
#                           customers with text indexes, products, orders, order lines
#                           of about 46 bytes, documents with Memo and OLE values, every
#                           table with a primary key and two or three more indexes, 30 %
#                           of the rows deleted and left on their pages. Sized by row
#                           count: --rows 2000 / 10000 / 20000 (the 1 GB file has 150,000
#                           customers and 4 million order lines).
#   o3-1g                   the same as Jet 3, --rows 13000 (about 1 GB)
# A workload file is kept and made again only when its inputs change: the schema,
# its row count, seed and format, or the sources of the code that writes it
# (jet/base, jet/file, jet/read, jet/write, jet/create, tools/jetdb).
#
# Usage: bench/run.sh [--sizes LIST] [--ops LIST] [--repeat N] [--no-real] [--no-export] [--make-only]
#   --sizes LIST  comma-separated workloads (default: all of them); e.g.
#                 --sizes j3-100,o4-200 for a short run
#   --ops LIST    comma-separated operations among compact, repair, repair-d, check,
#                 click, export (default: all of them); cp+sync always runs
#   --repeat N    runs of each operation, the best one counts (default 2)
#   --no-real     leave out the real test files
#   --no-export   leave out mdb-export (it takes tens of times the baseline)
#   --make-only   make the workload files and stop
# Environment: BUILD_DIR (default build/bench/release), TESTDATA (default
# ../shared/testdata beside the checkout). Only build/bench/ is ever written to.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BENCH="$ROOT/build/bench"
BUILD_DIR="${BUILD_DIR:-$BENCH/release}"
TESTDATA="${TESTDATA:-$ROOT/../shared/testdata}"
SIZES="j3-100,j3-400,j3-1g,j4-1g,j4-2g,o4-200,o4-1g,o4-2g,o3-1g"
OPS="compact,repair,repair-d,check,click,export"
REPEAT=2
REAL=1
EXPORT=1
MAKE_ONLY=0

while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) SIZES="$2"; shift 2 ;;
    --sizes=*) SIZES="${1#--sizes=}"; shift ;;
    --ops) OPS="$2"; shift 2 ;;
    --ops=*) OPS="${1#--ops=}"; shift ;;
    --repeat) REPEAT="$2"; shift 2 ;;
    --repeat=*) REPEAT="${1#--repeat=}"; shift ;;
    --no-real) REAL=0; shift ;;
    --no-export) EXPORT=0; shift ;;
    --make-only) MAKE_ONLY=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d'; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
case "$REPEAT" in ''|*[!0-9]*|0) echo "run.sh: --repeat takes a count from 1" >&2; exit 2 ;; esac
IFS=',' read -r -a op_list <<<"$OPS"
for op in "${op_list[@]}"; do
  case "$op" in compact|repair|repair-d|check|click|export) ;; *) echo "run.sh: unknown operation $op" >&2; exit 2 ;; esac
done
wanted_op() { [[ ",$OPS," == *",$1,"* ]]; }

[ -x /usr/bin/time ] || { echo "run.sh: /usr/bin/time is missing (Debian package: time)" >&2; exit 1; }
mkdir -p "$BENCH"

echo "== building (Release) in $BUILD_DIR"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  # -g changes no code; it lets bench/profile.sh see functions the compiler inlined.
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g -DZIVADIDUZ_QT=OFF >/dev/null
fi
ninja -C "$BUILD_DIR" -j2 jetdb jetdb-damage zivadiduz-probe >/dev/null
JETDB="$BUILD_DIR/tools/jetdb/jetdb"
DAMAGE="$BUILD_DIR/tools/damage/jetdb-damage"
PROBE="$BUILD_DIR/app/zivadiduz-probe"

# --- Workloads ----------------------------------------------------------------------

# What a file made by `jetdb create` depends on besides its arguments: the sources of
# the code that writes it. (Reading code is in it because the writer shares it.)
WRITER_SOURCES=$(cd "$ROOT" && find jet/base jet/file jet/read jet/write jet/create tools/jetdb \
                   -type f \( -name '*.cc' -o -name '*.h' \) | LC_ALL=C sort | xargs cat | sha256sum | cut -c1-16)

# Makes $1 with `jetdb create --format $2 --rows $3 --seed $4 $5` unless the file there
# was made from the same inputs (its key is kept beside it in $1.key).
create_file() {  # file format rows seed schema
  local key
  key="$WRITER_SOURCES $2 $3 $4 $(sha256sum <"$5" | cut -c1-16)"
  if [ -f "$1" ] && [ "$(cat "$1.key" 2>/dev/null)" = "$key" ]; then return; fi
  rm -f "$1" "$1.key" "$1.part"
  echo "== making $(basename "$1") ($2, $3 rows per table, from $(basename "$5"))"
  /usr/bin/time -f "   made in %e s, peak %M KB" \
    "$JETDB" create --format "$2" --rows "$3" --seed "$4" "$5" "$1.part" >/dev/null
  mv "$1.part" "$1"
  echo "$key" >"$1.key"
}

schema_for() {  # format
  if [ "$1" = jet4 ]; then echo "$ROOT/bench/schema-jet4.json"; else echo "$ROOT/bench/schema.json"; fi
}

# Rows per table for a file of about TARGET_MB, from a small calibration file.
rows_for() {  # format target_mb
  local cal="$BENCH/calibrate-$1.mdb"
  create_file "$cal" "$1" 2000 7 "$(schema_for "$1")" >&2
  echo $(( $2 * 1048576 * 2000 / $(stat -c %s "$cal") ))
}

calibrated_workload() {  # name format target_mb
  create_file "$BENCH/$1.mdb" "$2" "$(rows_for "$2" "$3")" 1 "$(schema_for "$2")"
}

orders_workload() {  # name format rows
  create_file "$BENCH/$1.mdb" "$2" "$3" 1 "$ROOT/bench/schema-orders.json"
}

FILES=()
IFS=',' read -r -a wanted <<<"$SIZES"
for w in "${wanted[@]}"; do
  case "$w" in
    j3-100) calibrated_workload j3-100 jet3 100 ;;
    j3-400) calibrated_workload j3-400 jet3 400 ;;
    j3-1g) calibrated_workload j3-1g jet3 960 ;;  # Jet 3 stops at 524,288 pages (1 GiB)
    j4-1g) calibrated_workload j4-1g jet4 1024 ;;
    j4-2g) calibrated_workload j4-2g jet4 2048 ;;
    o4-200) orders_workload o4-200 jet4 2000 ;;
    o4-1g) orders_workload o4-1g jet4 10000 ;;
    o4-2g) orders_workload o4-2g jet4 20000 ;;  # Jet 4 stops at 524,288 pages (2 GiB)
    o3-1g) orders_workload o3-1g jet3 13000 ;;
    *) echo "run.sh: unknown workload $w" >&2; exit 2 ;;
  esac
  FILES+=("$BENCH/$w.mdb")
done
[ "$MAKE_ONLY" = 1 ] && exit 0
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

# Runs the command once, puts "seconds peak_kb exit_status cpu_seconds wall_seconds" in
# $MEASURED. Seconds is the wall time less the time the command's processes waited
# for a CPU (bench/waits.py): about what it takes on a machine nobody else uses; cpu is
# user + system time; peak from /usr/bin/time -v.
measure_once() {
  local out="$WORK/time.txt" rc=0
  python3 "$ROOT/bench/waits.py" -o "$WORK/waits.txt" \
    /usr/bin/time -v -o "$out" "$@" >"$WORK/stdout.txt" 2>"$WORK/stderr.txt" || rc=$?
  local wall cpu queued kb
  read -r wall cpu queued <"$WORK/waits.txt"
  kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$out")
  MEASURED="$(awk -v w="$wall" -v q="$queued" 'BEGIN { printf "%.3f", w - q }') $kb $rc $cpu $wall"
}

# measure PREPARE CHECK COMMAND...: runs PREPARE (a function, may be :), then the
# command, then CHECK (a function that fails when the result is wrong, may be :),
# $REPEAT times. $MEASURED gets the best time (with its CPU and wall time), the
# highest peak and the first failing exit status (99 when CHECK failed).
measure() {
  local prepare=$1 check=$2 best="" best_cpu=0 best_wall=0 peak=0 status=0 secs kb rc cpu wall i
  shift 2
  for ((i = 0; i < REPEAT; ++i)); do
    "$prepare"
    measure_once "$@"
    read -r secs kb rc cpu wall <<<"$MEASURED"
    if [ "$rc" = 0 ] && ! "$check"; then rc=99; fi
    if [ "$status" = 0 ]; then status=$rc; fi
    if [ -z "$best" ] || awk -v a="$best" -v b="$secs" 'BEGIN { exit !(b < a) }'; then
      best=$secs best_cpu=$cpu best_wall=$wall
    fi
    if [ "$kb" -gt "$peak" ]; then peak=$kb; fi
  done
  MEASURED="$best $peak $status $best_cpu $best_wall"
}

export_all() {  # file
  local t
  mdb-tables -1 "$1" | while IFS= read -r t; do
    [ -n "$t" ] && mdb-export "$1" "$t" >/dev/null
  done
}
export -f export_all

printf '%s\n' "machine: $(nproc) cores, $(free -m | awk '/^Mem:/ { print $2 }') MB memory; best of $REPEAT; $(date -u '+%F %T') UTC" >"$RESULTS"
printf '%-22s %8s  %-8s %9s %7s %9s %9s %9s %9s  %s\n' file MB operation seconds ratio ms/MB "peak MB" "CPU s" "wall s" \
  status >>"$RESULTS"

report() {  # file mb operation baseline
  local name mb op base secs kb rc cpu wall
  name=$1 mb=$2 op=$3 base=$4
  read -r secs kb rc cpu wall <<<"$MEASURED"
  awk -v n="$name" -v mb="$mb" -v op="$op" -v s="$secs" -v b="$base" -v kb="$kb" -v rc="$rc" -v cpu="$cpu" \
      -v wall="$wall" 'BEGIN {
    ratio = b > 0 ? s / b : 0
    printf "%-22s %8.1f  %-8s %9.2f %7.2f %9.2f %9.1f %9.2f %9.2f  %s\n", n, mb, op, s, ratio, 1000 * s / mb, kb / 1024,
           cpu, wall, rc == 0 ? "ok" : "exit " rc
  }' >>"$RESULTS"
  tail -n 1 "$RESULTS"
}

PROGRAM="$WORK/program"
DATA="$WORK/data"
copy="$WORK/copy.mdb"
src="$WORK/source.mdb"

no_copy() { rm -f "$copy"; }
no_compacted() { rm -f "$WORK/compacted.mdb"; }
fresh_copy() { rm -f "$copy"; cp "$src" "$copy"; }  # in the page cache like the source
damaged="$WORK/damaged.mdb"
fresh_damaged_copy() { rm -f "$copy"; cp "$damaged" "$copy"; }
program_folder() {
  rm -rf "$PROGRAM" "$DATA"
  mkdir -p "$PROGRAM" "$DATA"
  cp "$PROBE" "$PROGRAM/zivadiduz-probe"
  printf '[Files]\r\nDatabasePath=%s\r\n' "$DATA" >"$PROGRAM/morvik.ini"
  cp "$src" "$DATA/morvik.mdb"
}
said_repaired() { grep -q 'MSGBOX style=64' "$WORK/stdout.txt"; }  # "hersteld"

for file in "${FILES[@]}"; do
  name=$(basename "$file" .mdb)
  mb=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", b / 1048576 }')
  echo "== $name ($mb MB), load average $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$RESULTS"
  cp "$file" "$src"     # read once so every run finds it cached
  chmod u+w "$src"      # the real test files are read-only; a database is not

  measure no_copy : bash -c 'cp "$1" "$2" && sync "$2"' _ "$src" "$copy"
  base=$(echo "$MEASURED" | cut -d' ' -f1)
  report "$name" "$mb" "cp+sync" "$base"

  if wanted_op compact; then
    measure no_compacted : "$JETDB" compact "$src" "$WORK/compacted.mdb"
    report "$name" "$mb" compact "$base"
    no_compacted
  fi

  if wanted_op repair; then
    measure fresh_copy : "$JETDB" repair "$copy"
    report "$name" "$mb" repair "$base"
  fi

  if wanted_op repair-d; then
    bash "$ROOT/bench/damage.sh" "$DAMAGE" "$src" "$damaged"
    measure fresh_damaged_copy : "$JETDB" repair "$copy"
    report "$name" "$mb" repair-d "$base"
    rm -f "$damaged"
  fi

  if wanted_op check; then
    measure : : "$JETDB" check "$src"
    report "$name" "$mb" check "$base"
  fi

  if wanted_op click; then
    measure program_folder said_repaired "$PROGRAM/zivadiduz-probe" --click
    report "$name" "$mb" click "$base"
  fi
  rm -rf "$PROGRAM" "$DATA" "$copy"

  if [ "$EXPORT" = 1 ] && wanted_op export && command -v mdb-export >/dev/null; then
    measure : : bash -c 'export_all "$1"' _ "$src"
    report "$name" "$mb" export "$base"
  fi
  rm -f "$src"
done

echo
echo "== results (also in $RESULTS)"
cat "$RESULTS"
