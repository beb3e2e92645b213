#!/usr/bin/env bash
# The real program in a real X server (Xvfb) under a window manager (openbox), driven
# the way a user drives it: the window's X properties, Escape, the close box and the
# window manager's close key, the space bar and Enter on the button, and the boxes
# that follow, read back through the accessibility bus.
#
#   x11_test.sh PROGRAM [JET_DATABASE]
#
# PROGRAM is the built zivadiduz; it is copied into fresh program folders. Without
# JET_DATABASE (or $ZIVADIDUZ_X11_DATABASE) the database is a file that is no Jet
# database, which the engine refuses: the run must end in the failure box with the
# database untouched. With a real Jet database the run must end in the closing notice,
# with the backup equal to the old database, the scratch file present, and the new
# database readable by mdbtools with the same rows.
#
# Exit status: 0 passed, 1 failed, 77 skipped (no Xvfb). Needs no terminal or stdin.
set -uo pipefail
exec </dev/null
source "$(dirname "$0")/../../support/servers.sh"

program_built=${1:?usage: x11_test.sh PROGRAM [JET_DATABASE]}
jet_database=${2:-${ZIVADIDUZ_X11_DATABASE:-}}

if [ -n "$jet_database" ] && [ ! -f "$jet_database" ]; then
  echo "SKIP: the test database $jet_database is not there"
  exit 77
fi
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "SKIP: Xvfb is not installed (scripts/setup-debian.sh installs it)"
  exit 77
fi
for tool in openbox xdotool xprop xwininfo sha256sum; do
  command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool is not installed"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zivadiduz-x11-XXXXXX")
failures=0
program_pid=""

cleanup() {
  local status=$?
  [ -z "$program_pid" ] || stop
  if ! stop_servers; then
    echo "FAIL: a server did not stop cleanly"
    status=1
  fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# ---- the servers: a session bus, the X server and the window manager ----

mkdir -p "$work/home" "$work/run"
chmod 700 "$work/run"
export HOME=$work/home XDG_RUNTIME_DIR=$work/run

# The boxes' texts are read over AT-SPI on a private session bus; without the tools
# only the box titles are checked.
read_texts=0
if command -v dbus-daemon >/dev/null 2>&1 &&
   /usr/bin/python3 -c "import gi; gi.require_version('Atspi', '2.0')" >/dev/null 2>&1; then
  start_session_bus "$work" || { echo "FAIL: no session bus"; exit 1; }
  read_texts=1
fi
start_x_server "$work" || { echo "FAIL: no X server"; exit 1; }
start_window_manager "$work" || { echo "FAIL: no window manager"; exit 1; }
echo "X server on $DISPLAY with openbox; box texts read: $([ $read_texts = 1 ] && echo yes || echo 'no (titles only)')"

# ---- program folders ----

# make_folder NAME [no-ini]: NAME/program (the program and morvik.ini naming
# NAME/data) and NAME/data/morvik.mdb.
make_folder() {
  local root=$work/$1
  mkdir -p "$root/program" "$root/data"
  cp "$program_built" "$root/program/zivadiduz"
  if [ "${2:-}" != no-ini ]; then
    printf '[Files]\r\nDatabasePath=%s\r\n' "$root/data" >"$root/program/morvik.ini"
  fi
  if [ -n "$jet_database" ]; then
    cp "$jet_database" "$root/data/morvik.mdb"
    chmod u+w "$root/data/morvik.mdb"  # the shared test files are read-only
  else
    printf 'Dit is geen Jet-database, alleen wat tekst.\n' >"$root/data/morvik.mdb"
  fi
}

# Every file under a folder with its size, time and contents, for "nothing changed".
snapshot() {
  (cd "$1" && find . -type f -printf '%p %s %T@\n' | sort && find . -type f -exec sha256sum {} + | sort)
}

# start NAME: runs the program of folder NAME from elsewhere (the program finds its
# folder from its own file, not the working directory).
start() {
  (cd "$work" && QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 exec "$work/$1/program/zivadiduz" \
      >"$work/$1.log" 2>&1) &
  program_pid=$!
}

# wait_window TITLE: prints the id of the program's visible window titled exactly TITLE.
wait_window() {
  local title=$1 id name
  for _ in $(seq 150); do
    for id in $(xdotool search --all --onlyvisible --pid "$program_pid" --name "$title" 2>/dev/null); do
      name=$(xdotool getwindowname "$id" 2>/dev/null)
      [ "$name" = "$title" ] && { echo "$id"; return 0; }
    done
    kill -0 "$program_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# The titles of the program's visible windows, for a failure report.
visible_titles() {
  local id
  for id in $(xdotool search --all --onlyvisible --pid "$program_pid" --name . 2>/dev/null); do
    printf '"%s" ' "$(xdotool getwindowname "$id" 2>/dev/null)"
  done
}

# wait_exit: waits up to 10 s for the program to end and sets exit_status to its exit
# status, or to "running" when it did not end. Not run in a command substitution: a
# subshell cannot wait for the program, which is a child of this shell.
wait_exit() {
  exit_status=running
  for _ in $(seq 100); do
    if ! kill -0 "$program_pid" 2>/dev/null; then
      wait "$program_pid"
      exit_status=$?
      program_pid=""
      return
    fi
    sleep 0.1
  done
}

# stop: ends a program that a failed case left running.
stop() {
  if [ -n "$program_pid" ]; then
    kill "$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
    program_pid=""
  fi
}

# box_text TITLE: the text of the program's box titled TITLE, from the accessibility
# tree (the labels of the alert, in order, joined by newlines).
box_text() {
  /usr/bin/python3 - "$program_pid" "$1" <<'EOF'
import sys, time
import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi

pid, title = int(sys.argv[1]), sys.argv[2]

def labels(node):
    found = []
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is None:
            continue
        if child.get_role() == Atspi.Role.LABEL and child.get_name():
            found.append(child.get_name())
        found.extend(labels(child))
    return found

for _ in range(50):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        try:
            if app is None or app.get_process_id() != pid:
                continue
            for j in range(app.get_child_count()):
                window = app.get_child_at_index(j)
                if window is not None and window.get_name() == title:
                    print("\n".join(labels(window)))
                    sys.exit(0)
        except Exception:
            continue
    time.sleep(0.2)
sys.exit(1)
EOF
}

# expect_box TITLE TEXT [REASON...]: the box is there with that title and, when texts
# can be read, that text; with REASONs, TEXT is its first line and one of the REASONs
# its second. Leaves the box's window id in $work/box_id.
expect_box() {
  local title=$1 text=$2 id got reason matched=0
  shift 2
  if ! id=$(wait_window "$title"); then
    fail "no box titled \"$title\"; the program shows: $(visible_titles)"
    return 1
  fi
  if [ $read_texts = 1 ]; then
    got=$(box_text "$title") || { fail "the box \"$title\" is not in the accessibility tree"; return 1; }
    [ $# -eq 0 ] && [ "$got" = "$text" ] && matched=1
    for reason in "$@"; do
      [ "$got" = "$text"$'\n'"$reason" ] && matched=1
    done
    if [ $matched = 1 ]; then
      pass "box \"$title\": $(printf '%s' "$got" | tr '\n' '|')"
    else
      fail "box \"$title\" says \"$got\", expected \"$text\" $*"
    fi
  else
    pass "box \"$title\" (text not read)"
  fi
  echo "$id" >"$work/box_id"
}

press() {  # press WINDOW KEY: gives the window the focus and presses KEY
  xdotool windowactivate --sync "$1" >/dev/null 2>&1
  xdotool key --clearmodifiers "$2"
}

# ---- 1. the window's properties as the window manager sees them ----

make_folder look
start look
if window=$(wait_window ZivAdiduz); then
  hints=$(xprop -id "$window" WM_NORMAL_HINTS)
  if grep -q 'program specified minimum size: 324 by 228' <<<"$hints" &&
     grep -q 'program specified maximum size: 324 by 228' <<<"$hints"; then
    pass "size hints: minimum = maximum = 324 x 228"
  else
    fail "size hints: $hints"
  fi
  if grep -q 'specified location' <<<"$hints"; then
    fail "the program asks for a position of its own: $hints"
  else
    pass "first position left to the window manager"
  fi
  size=$(xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
  [ "$size" = 324x228 ] && pass "client area 324 x 228" || fail "client area $size"

  # _MOTIF_WM_HINTS = flags, functions, decorations, input mode, status.
  read -r -a motif <<<"$(xprop -id "$window" _MOTIF_WM_HINTS | sed 's/.*= //; s/,/ /g')"
  if [ ${#motif[@]} -ge 3 ]; then
    flags=$((motif[0])) functions=$((motif[1])) decorations=$((motif[2]))
    # functions: 1 all, 2 resize, 4 move, 8 minimise, 16 maximise, 32 close
    # decorations: 1 all, 2 border, 4 resize handle, 8 title, 16 menu, 32 minimise, 64 maximise
    # Exactly a fixed dialog: move and close; border, title and menu.
    if (( (flags & 3) == 3 && functions == (4 | 32) && decorations == (2 | 8 | 16) )); then
      pass "Motif hints: close box and system menu, no minimise, maximise or resizing"
    else
      fail "Motif hints ${motif[*]}"
    fi
  else
    fail "no _MOTIF_WM_HINTS"
  fi

  state=$(xprop -id "$window" _NET_WM_STATE)
  grep -q '_NET_WM_STATE_SKIP_TASKBAR' <<<"$state" && pass "no taskbar button (skip-taskbar)" ||
    fail "_NET_WM_STATE: $state"

  type=$(xprop -id "$window" _NET_WM_WINDOW_TYPE)
  grep -q '= _NET_WM_WINDOW_TYPE_DIALOG' <<<"$type" && pass "window type dialog" || fail "$type"

  # What openbox makes of the hints: no resizing and no maximising. (Openbox lets
  # the user iconify a dialog whatever its Motif hints say, so that is not asked.)
  actions=$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)
  if grep -q -e _NET_WM_ACTION_RESIZE -e _NET_WM_ACTION_MAXIMIZE <<<"$actions"; then
    fail "the window manager allows: $actions"
  else
    pass "the window manager allows neither resizing nor maximising"
  fi

  icon=$(xprop -id "$window" _NET_WM_ICON | head -n1)
  grep -q 'Icon (32 x 32)' <<<"$icon" && pass "window icon 32 x 32" || fail "icon: $icon"

  # Escape does nothing; then the close box ends the program and no file changed.
  before=$(snapshot "$work/look")
  press "$window" Escape
  sleep 1
  if kill -0 "$program_pid" 2>/dev/null && wait_window ZivAdiduz >/dev/null; then
    pass "Escape does nothing"
  else
    fail "the window went away on Escape"
  fi
  [ -z "$(xdotool search --all --onlyvisible --pid "$program_pid" --name 'Foutmelding|Mededeling')" ] ||
    fail "Escape brought up a box"

  # The close box sits at the right end of openbox's title bar, 10 px in.
  read -r left top <<<"$(xwininfo -id "$window" |
      awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}')"
  xdotool mousemove $((left + 324 - 10)) $((top - 10)) click 1
  wait_exit; status=$exit_status
  [ "$status" = 0 ] && pass "the close box ends the program (status 0)" ||
    fail "after the close box: status $status"
  [ "$(snapshot "$work/look")" = "$before" ] && pass "no file changed by Escape and close" ||
    fail "files changed: $(diff <(echo "$before") <(snapshot "$work/look"))"
else
  fail "the window did not appear: $(cat "$work/look.log")"
fi
stop

# ---- 2. the window manager's close key ends it too ----

make_folder closekey
before=$(snapshot "$work/closekey")
start closekey
if window=$(wait_window ZivAdiduz); then
  press "$window" alt+F4
  wait_exit; status=$exit_status
  [ "$status" = 0 ] && pass "Alt+F4 ends the program (status 0)" || fail "after Alt+F4: status $status"
  [ "$(snapshot "$work/closekey")" = "$before" ] && pass "no file changed by Alt+F4" ||
    fail "files changed after Alt+F4"
else
  fail "the window did not appear"
fi
stop

# ---- 3. space starts the repair; the closing box; Enter ends the program ----

if [ -n "$jet_database" ]; then
  expected_title=Mededeling
  expected_text="Database is hersteld !"
else
  expected_title=Foutmelding
  expected_text="Database kon niet hersteld worden ! De database is niet gewijzigd."
  # The reason line: what the engine says of a file that is no Jet database; an
  # engine that cannot read any database yet calls it an unsupported kind.
  expected_reasons=("Het bestand is geen geldige database." "Dit soort database wordt niet ondersteund.")
fi

# check_repair_files NAME: the files after a run of folder NAME.
check_repair_files() {
  local root=$work/$1 old=$2
  [ "$(sha256sum <"$root/program/morvikbackup.mdb" 2>/dev/null)" = "$old" ] &&
    pass "the backup equals the old database" || fail "no backup equal to the old database"
  if [ -n "$jet_database" ]; then
    [ -f "$root/program/new.mdb" ] && pass "scratch file new.mdb is there" || fail "no new.mdb"
    cmp -s "$root/program/new.mdb" "$root/data/morvik.mdb" &&
      pass "the database is its compacted copy" || fail "the database is not new.mdb"
    if command -v mdb-tables >/dev/null 2>&1; then
      local table same=1 tables=()
      mapfile -t tables < <(mdb-tables -1 "$jet_database")
      [ ${#tables[@]} -gt 0 ] || { same=0; fail "mdbtools lists no tables in the old database"; }
      [ "$(mdb-tables -1 "$root/data/morvik.mdb")" = "$(mdb-tables -1 "$jet_database")" ] ||
        { same=0; fail "the new database lists other tables"; }
      for table in "${tables[@]}"; do
        cmp -s <(mdb-export "$jet_database" "$table" | sort) \
               <(mdb-export "$root/data/morvik.mdb" "$table" | sort) ||
          { same=0; fail "table $table has other rows in the new database"; }
      done
      [ $same = 1 ] && pass "mdbtools reads the same tables and rows from the new database"
    else
      fail "mdbtools is not installed"
    fi
  else
    [ "$(sha256sum <"$root/data/morvik.mdb")" = "$old" ] &&
      pass "the refused database is untouched" || fail "the refused database changed"
    [ ! -e "$root/program/new.mdb" ] && pass "no scratch file from a refused compaction" ||
      fail "a scratch file was left by a refused compaction"
  fi
}

# run_repair NAME KEY: presses KEY in the window, then Enter in the box.
run_repair() {
  local name=$1 key=$2 old box
  make_folder "$name"
  old=$(sha256sum <"$work/$name/data/morvik.mdb")
  start "$name"
  if window=$(wait_window ZivAdiduz); then
    press "$window" "$key"
    if expect_box "$expected_title" "$expected_text" ${expected_reasons+"${expected_reasons[@]}"}; then
      box=$(cat "$work/box_id")
      press "$box" Return
      wait_exit; status=$exit_status
      [ "$status" = 0 ] && pass "$key, then Enter in the box: the program ended (status 0)" ||
        fail "after the box: status $status"
      check_repair_files "$name" "$old"
    fi
  else
    fail "the window did not appear: $(cat "$work/$name.log")"
  fi
  stop
}

run_repair space space
run_repair enter Return

# ---- 4. a failed start-up check shows its box and no window ----

make_folder noini no-ini
start noini
if expect_box Foutmelding "Kan morvik.ini bestand niet vinden !"; then
  [ -z "$(xdotool search --all --onlyvisible --pid "$program_pid" --name '^ZivAdiduz$')" ] &&
    pass "no window after a failed start-up check" || fail "the window is shown"
  press "$(cat "$work/box_id")" Return
  wait_exit; status=$exit_status
  [ "$status" = 0 ] && pass "the start-up box ends the program (status 0)" ||
    fail "after the start-up box: status $status"
fi
stop

if [ $failures -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
exit 0
