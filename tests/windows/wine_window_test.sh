#!/usr/bin/env bash
# zivadiduz.exe end to end under Wine, in a real X server (Xvfb) with a window manager
# (openbox), driven as a user drives it:
#   - the three start-up errors: each shows its "Foutmelding" box with its text, and
#     no window; OK ends the program;
#   - a real database copied into a prepared program folder: the window "ZivAdiduz"
#     with a 324 x 228 client area, no minimise or maximise box, no taskbar entry;
#     Escape does nothing; Space starts the repair, "Mededeling" follows, and OK ends
#     the program; the backup is the original file, new.mdb is there, and mdbtools
#     reads the same rows from the repaired database as from the original.
#
#   wine_window_test.sh ZIVADIDUZ_EXE JET_DATABASE [SCREENSHOT_PNG]
#
# The box texts come from Wine's own trace of the message box it shows. With
# SCREENSHOT_PNG the window is saved there as a picture before it is pressed.
# Exit status: 0 passed, 1 failed, 77 skipped (no Xvfb, or no test database).
set -uo pipefail
exec </dev/null

here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: wine_window_test.sh ZIVADIDUZ_EXE JET_DATABASE [SCREENSHOT_PNG]}
database=${2:?usage: wine_window_test.sh ZIVADIDUZ_EXE JET_DATABASE [SCREENSHOT_PNG]}
screenshot=${3:-}
wine=$here/../../scripts/wine-run.sh

[ -f "$database" ] || { echo "SKIP: the test database $database is not there"; exit 77; }
command -v Xvfb >/dev/null 2>&1 || { echo "SKIP: Xvfb is not installed"; exit 77; }
for tool in openbox xdotool xprop xwininfo mdb-tables mdb-export sha256sum; do
  command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool is not installed"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zivadiduz-wine-XXXXXX")
failures=0
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# ---- the X server and the window manager ----
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done

# ---- program folders and runs ----

# make_folder NAME INI_TEXT: NAME/program with the program and (unless INI_TEXT is
# "-") a morvik.ini holding INI_TEXT; NAME/data with a copy of the database.
make_folder() {
  mkdir -p "$work/$1/program" "$work/$1/data"
  cp "$exe" "$work/$1/program/zivadiduz.exe"
  [ "$2" = - ] || printf '%s' "$2" >"$work/$1/program/morvik.ini"
  cp "$database" "$work/$1/data/morvik.mdb"
  chmod u+w "$work/$1/data/morvik.mdb"
}
# The data folder of NAME as Windows sees it (drive Z: is the Linux root).
windows_path() { printf 'Z:%s' "$work/$1/data" | tr / '\\'; }

# start NAME: runs the program of NAME from another folder, with Wine's message-box
# trace in NAME.log and its exit status in NAME.status.
start() {
  (cd "$work" && WINEDEBUG=-all,trace+msgbox "$wine" "$work/$1/program/zivadiduz.exe" \
     >"$work/$1.log" 2>&1; echo $? >"$work/$1.status") &
  pids+=($!)
}
# wait_window TITLE: the id of the first visible window with that title (60 s).
wait_window() {
  local id
  for _ in $(seq 600); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
# press WINDOW KEY: the key as typed on the keyboard, into that window.
press() { xdotool windowactivate --sync "$1" >/dev/null 2>&1; xdotool key --clearmodifiers "$2"; }
# wait_end NAME: the exit status of NAME's program, or "running" after 60 s.
wait_end() {
  for _ in $(seq 600); do
    [ -s "$work/$1.status" ] && { cat "$work/$1.status"; return; }
    sleep 0.1
  done
  echo running
}
box_text() { grep -o 'MSGBOX_OnInit L".*"' "$work/$1.log" | sed 's/^MSGBOX_OnInit L"//; s/"$//'; }

# check_startup_error NAME TEXT: the box "Foutmelding" with TEXT, no window, OK ends.
check_startup_error() {
  local id
  start "$1"
  if ! id=$(wait_window Foutmelding); then
    fail "$1: no box \"Foutmelding\""
    return
  fi
  [ "$(box_text "$1")" = "$2" ] && pass "$1: \"$2\"" || fail "$1: box text \"$(box_text "$1")\""
  xdotool search --onlyvisible --name '^ZivAdiduz$' >/dev/null 2>&1 &&
    fail "$1: the window is shown" || pass "$1: no window"
  press "$id" Return
  [ "$(wait_end "$1")" = 0 ] && pass "$1: OK ends the program" || fail "$1: the program did not end"
}

make_folder no-ini -
check_startup_error no-ini "Kan morvik.ini bestand niet vinden !"
make_folder no-setting "$(printf '[Files]\r\nOther=1\r\n')"
check_startup_error no-setting "Kan database-bestand niet vinden !, controleer instellingen van Morvik"
make_folder no-database "$(printf '[Files]\r\nDatabasePath=%s\\elders\r\n' "$(windows_path no-database)")"
check_startup_error no-database "Kan morvik database niet vinden !"

# ---- the whole job ----
make_folder repair "$(printf '[Files]\r\nDatabasePath=%s\r\n' "$(windows_path repair)")"
original=$work/original.mdb
cp "$database" "$original"
start repair
if ! window=$(wait_window ZivAdiduz); then
  fail "repair: the window did not appear"
  exit 1
fi
sleep 1  # let the window manager settle the frame
size=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
[ "$size" = 324x228 ] && pass "client area 324 x 228" || fail "client area $size"
# Wine hands the window's styles to the window manager as Motif hints: functions
# (second field) and decorations (third) must offer neither minimise nor maximise.
read -r _ functions decorations _ < <(xprop -id "$window" _MOTIF_WM_HINTS |
  sed 's/.*= //; s/,//g')
if [ -n "${decorations:-}" ] && (( (functions & 0x18) == 0 && (decorations & 0x60) == 0 )); then
  pass "no minimise or maximise box (Motif hints $functions $decorations)"
else
  fail "Motif hints offer minimise or maximise: ${functions:-none} ${decorations:-none}"
fi
xprop -id "$window" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR &&
  pass "no taskbar entry" || fail "the window has a taskbar entry"
[ -n "$screenshot" ] && import -window "$window" -frame "$screenshot" 2>/dev/null

press "$window" Escape
sleep 1
xdotool search --onlyvisible --name '^ZivAdiduz$' >/dev/null && [ ! -s "$work/repair.status" ] &&
  pass "Escape does nothing" || fail "Escape closed the window"
cmp -s "$work/repair/data/morvik.mdb" "$original" || fail "the database changed before the button"

press "$window" space
if ! box=$(wait_window Mededeling); then
  fail "no \"Mededeling\" after Space ($(box_text repair))"
else
  [ "$(box_text repair)" = "Database is hersteld !" ] && pass "Mededeling: Database is hersteld !" ||
    fail "closing box text \"$(box_text repair)\""
  press "$box" Return
  [ "$(wait_end repair)" = 0 ] && pass "OK ends the program" || fail "the program did not end"
fi

cmp -s "$work/repair/program/morvikbackup.mdb" "$original" && pass "the backup is the original" ||
  fail "the backup differs from the original"
[ -s "$work/repair/program/new.mdb" ] && pass "new.mdb is there" || fail "no new.mdb"
rows() {  # every table's rows as mdbtools reads them, sorted
  mdb-tables -1 "$1" | sort | while read -r table; do
    echo "== $table"
    mdb-export "$1" "$table" | tr -d '\000' | sort
  done
}
if [ "$(rows "$work/repair/data/morvik.mdb")" = "$(rows "$original")" ]; then
  pass "mdbtools reads the same rows"
else
  fail "the repaired database reads other rows than the original"
fi

echo "$failures failed"
[ "$failures" -eq 0 ]
