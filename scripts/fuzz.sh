#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer
# on), replays the saved regression inputs, then runs each fuzzer for a bounded time
# over a seed corpus cut from the real test files. Fails when a fuzzer finds a crash;
# the crashing input is left in build/fuzz/artifacts/.
#
#   scripts/fuzz.sh [--seconds N]     N seconds per fuzzer (default 20)
#
# Skips (successfully) when clang++ is not installed. Without ../shared/testdata the
# fuzzers start from an empty corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="${2:?--seconds needs a number}"; shift 2 ;;
    --seconds=*) seconds="${1#--seconds=}"; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "fuzz.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
case "$seconds" in
  ''|*[!0-9]*) echo "fuzz.sh: --seconds needs a whole number" >&2; exit 2 ;;
esac

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz.sh: clang++ is not installed; skipping the fuzz targets"
  exit 0
fi

build=build/fuzz
# Line tables are all a sanitizer's report needs, at a fraction of full debug
# information's compile time.
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
  -DZIVADIDUZ_FUZZ=ON -DZIVADIDUZ_QT=OFF -DZIVADIDUZ_TESTS=ON >/dev/null
fuzzers=(read_fuzzer check_fuzzer compact_fuzzer repair_fuzzer)
cmake --build "$build" -j "$(nproc)" --target "${fuzzers[@]}" jetdb-damage

# Seeds: the first pages of every real test file. A few dozen pages hold page 0, the
# catalog, most table definitions and data; the cut also leaves pointers past the end,
# which the reader must reject.
seed_dir="$build/seeds"
rm -rf "$seed_dir"
mkdir -p "$seed_dir"
testdata="${ZIVADIDUZ_SHARED_DIR:-../shared}/testdata"
if [ -d "$testdata" ]; then
  for file in "$testdata"/jet3/*.mdb "$testdata"/jet4/*.mdb "$testdata"/ace/*.accdb; do
    [ -f "$file" ] || continue
    case "$file" in */jet3/*) page=2048 ;; *) page=4096 ;; esac
    head -c $((page * 40)) "$file" > "$seed_dir/$(basename "$(dirname "$file")")_$(basename "$file")"
  done
  # Damaged copies too, one of each kind the damage generator makes, so that the check
  # and the repair start from inputs with something to find.
  for file in "$testdata"/jet3/*.mdb "$testdata"/jet4/*.mdb; do
    [ -f "$file" ] || continue
    case "$file" in */jet3/*) page=2048 ;; *) page=4096 ;; esac
    for kind in index-leaf zero-data-page row-in-free-space broken-long-value long-value-cycle \
                tdef-continuation stale-row-count column-flags commit-state truncated; do
      damaged="$build/damaged.tmp"
      rm -f "$damaged"
      if "$build/tools/damage/jetdb-damage" "$kind" "$file" "$damaged" >/dev/null 2>&1; then
        head -c $((page * 40)) "$damaged" > "$seed_dir/damaged_${kind}_$(basename "$(dirname "$file")")_$(basename "$file")"
      fi
      rm -f "$damaged"
    done
  done
else
  echo "fuzz.sh: $testdata is absent; fuzzing without seeds"
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
mkdir -p "$build/artifacts"

# One fuzzer: the inputs that once crashed must stay fixed, then a bounded run.
run_fuzzer() {
  local fuzzer=$1 binary="$build/tests/fuzz/$1" corpus="$build/corpus/$1" status=0
  local regressions=(tests/fuzz/regressions/*)
  if [ -e "${regressions[0]}" ]; then
    echo "== $fuzzer: replaying ${#regressions[@]} regression input(s)"
    "$binary" -timeout=10 -rss_limit_mb=2048 "${regressions[@]}" || status=1
  fi
  mkdir -p "$corpus"
  echo "== $fuzzer: fuzzing for $seconds s"
  if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$fuzzer-" "$corpus" "$seed_dir"; then
    echo "fuzz.sh: $fuzzer found a crash; input in $build/artifacts/ (keep it under tests/fuzz/regressions/)"
    status=1
  fi
  return $status
}

# The fuzzers run side by side, each into its own log, shown whole when it is done.
pids=()
for fuzzer in "${fuzzers[@]}"; do
  run_fuzzer "$fuzzer" >"$build/$fuzzer.log" 2>&1 &
  pids+=($!)
done
status=0
for i in "${!fuzzers[@]}"; do
  wait "${pids[$i]}" || status=1
  cat "$build/${fuzzers[$i]}.log"
done
exit $status
