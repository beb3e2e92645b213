#!/usr/bin/env bash
# jetdb.exe under Wine against jetdb on Linux: the same commands on the same files
# give the same standard output and the same exit status. Covers every command:
# info, schema, export, check, create, compact and repair (the
# files these write are compared through jetdb's own export), and the usage and
# database errors.
#
#   jetdb_compare_test.sh JETDB JETDB_EXE [DATABASE...]
#
# A demo database made by `jetdb create` is always among the files; the DATABASEs
# that exist are added (the real test files, when they are there).
set -uo pipefail
exec </dev/null
here=$(cd "$(dirname "$0")" && pwd)
native=${1:?usage: jetdb_compare_test.sh JETDB JETDB_EXE [DATABASE...]}
exe=${2:?usage: jetdb_compare_test.sh JETDB JETDB_EXE [DATABASE...]}
shift 2
wine=$here/../../scripts/wine-run.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/zivadiduz-jetdb-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
checks=0
unstable=0

# same LABEL ARGS...: runs both with ARGS, compares stdout and exit status. A Wine
# run that differs is run once more: a difference that does not come back is shown,
# with both sides' output, as unstable (CI met one such run in thousands, which no
# local run has repeated), and one that does is a failure.
same() {
  local label=$1
  shift
  "$native" "$@" >"$work/linux.out" 2>"$work/linux.err"
  local linux_status=$?
  checks=$((checks + 1))
  local difference
  difference=$(run_wine_and_compare "$linux_status" "$@") || return 0
  echo "$label: $difference"
  show_outputs
  if difference=$(run_wine_and_compare "$linux_status" "$@"); then
    echo "FAIL: $label: again on a second run: $difference"
    show_outputs
    failures=$((failures + 1))
  else
    echo "UNSTABLE: $label: a second run under Wine agreed with Linux"
    unstable=$((unstable + 1))
  fi
}

# run_wine_and_compare LINUX_STATUS ARGS...: runs jetdb.exe with ARGS; prints how it
# differs from the Linux run and succeeds when it does, fails when they agree.
run_wine_and_compare() {
  local linux_status=$1
  shift
  "$wine" "$exe" "$@" >"$work/windows.out" 2>"$work/windows.err"
  local windows_status=$?
  if [ "$linux_status" != "$windows_status" ]; then
    echo "exit status $linux_status on Linux, $windows_status under Wine"
  elif ! cmp -s "$work/linux.out" "$work/windows.out"; then
    echo "output differs"
  else
    return 1
  fi
}

show_outputs() {
  sed 's/^/  Linux out: /' "$work/linux.out" | head -5
  sed 's/^/  Wine out: /' "$work/windows.out" | head -5
  sed 's/^/  Wine err: /' "$work/windows.err" | head -5
}

"$native" create --format jet3 --rows 60 --seed 7 "$here/../../scripts/demo-schema.json" \
  "$work/demo.mdb" >/dev/null || { echo "FAIL: jetdb create"; exit 1; }
files=("$work/demo.mdb")
for f in "$@"; do [ -f "$f" ] && files+=("$f"); done

for f in "${files[@]}"; do
  name=$(basename "$f")
  same "$name info" info "$f"
  same "$name schema" schema "$f"
  same "$name check" check "$f"
  "$native" tables "$f" 2>/dev/null | head -n 2 >"$work/tables"
  while read -r table; do
    same "$name export --format json $table" export --format json "$f" "$table"
  done <"$work/tables"
done

# Writing commands: each side writes its own file, with the same report and status,
# and the files must read the same.
# both LABEL SIDE_ARGS...: SIDE_ARGS with @ replaced by "linux" and "wine" in turn.
both() {
  local label=$1 status_linux status_wine
  shift
  "$native" "${@//@/linux}" >"$work/linux.out" 2>&1
  status_linux=$?
  "$wine" "$exe" "${@//@/wine}" >"$work/wine.out" 2>&1
  status_wine=$?
  checks=$((checks + 1))
  sed -i "s/linux/@/g" "$work/linux.out"
  sed -i "s/wine/@/g" "$work/wine.out"
  if [ "$status_linux" != "$status_wine" ] || ! cmp -s "$work/linux.out" "$work/wine.out"; then
    echo "FAIL: $label: status $status_linux / $status_wine"
    diff "$work/linux.out" "$work/wine.out" | head -5
    failures=$((failures + 1))
  fi
}
cp "$work/demo.mdb" "$work/repair-linux.mdb"
cp "$work/demo.mdb" "$work/repair-wine.mdb"
both create create --format jet4 --rows 30 --seed 3 "$here/../../scripts/demo-schema.json" \
  "$work/created-@.mdb"
both compact compact "$work/demo.mdb" "$work/compact-@.mdb"
both repair repair "$work/repair-@.mdb"
for written in created compact repair; do
  checks=$((checks + 1))
  for table in $("$native" tables "$work/$written-linux.mdb"); do
    if ! cmp -s <("$native" export --format json "$work/$written-linux.mdb" "$table") \
                <("$native" export --format json "$work/$written-wine.mdb" "$table"); then
      echo "FAIL: $written: the file jetdb.exe wrote reads differently in table $table"
      failures=$((failures + 1))
    fi
  done
done

# Errors: usage, a missing file, a file that is no database.
printf 'geen database' >"$work/text.mdb"
same "unknown command" frobnicate
same "missing file" info "$work/missing.mdb"
same "not a database" info "$work/text.mdb"
same "unknown table" export --format csv "$work/demo.mdb" "no such table"

echo "$((checks - failures)) passed, $failures failed ($unstable of the passed only on a second run)"
[ "$failures" -eq 0 ]
