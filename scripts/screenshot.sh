#!/usr/bin/env bash
# Screenshots of what a user sees, for review: the window, and the box that follows a
# press on its button, each with the window manager's frame, taken in Xvfb under
# openbox. Writes build/screenshots/window.png and build/screenshots/box.png.
#
#   scripts/screenshot.sh [PROGRAM [DATABASE]]
#
# PROGRAM defaults to build/release/app/zivadiduz (built when missing). Without
# DATABASE the database is a file that is no Jet database, so the box is the failure
# box; with a real Jet database it is the closing notice (the copy is repaired, the
# original is only read).
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/.."
top=$PWD
source tests/support/servers.sh

program=${1:-}
database=${2:-}
if [ -z "$program" ]; then
  program=$top/build/release/app/zivadiduz
  if [ ! -x "$program" ]; then
    scripts/configure-release.sh
    cmake --build build/release -j 2 --target zivadiduz
  fi
fi
program=$(realpath "$program")
for tool in Xvfb openbox xdotool xwininfo xprop import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup-debian.sh" >&2; exit 1; }
done

out=$top/build/screenshots
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/zivadiduz-shot-XXXXXX")
program_pid=""
cleanup() {
  if [ -n "$program_pid" ]; then
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
  fi
  stop_servers || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home" "$work/run" "$work/program" "$work/data"
chmod 700 "$work/run"
export HOME=$work/home XDG_RUNTIME_DIR=$work/run

start_x_server "$work" 800x600x24
start_window_manager "$work"

cp "$program" "$work/program/zivadiduz"
printf '[Files]\r\nDatabasePath=%s\r\n' "$work/data" >"$work/program/morvik.ini"
if [ -n "$database" ]; then
  cp "$database" "$work/data/morvik.mdb"
  chmod u+w "$work/data/morvik.mdb"
else
  printf 'Dit is geen Jet-database.\n' >"$work/data/morvik.mdb"
fi
"$work/program/zivadiduz" >"$work/program.log" 2>&1 &
program_pid=$!

# find_window TITLE...: the id of the program's visible window titled exactly one of
# the TITLEs.
find_window() {
  local id name title
  for _ in $(seq 100); do
    for id in $(xdotool search --all --onlyvisible --pid "$program_pid" --name . 2>/dev/null); do
      name=$(xdotool getwindowname "$id")
      for title in "$@"; do
        [ "$name" = "$title" ] && { echo "$id"; return 0; }
      done
    done
    sleep 0.1
  done
  echo "no window titled $*; the program said: $(cat "$work/program.log")" >&2
  return 1
}

# shoot ID FILE: the window with its frame (openbox's _NET_FRAME_EXTENTS around it).
shoot() {
  local x y w h l r t b
  sleep 0.5  # let the window paint
  read -r x y w h <<<"$(xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4}
      /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}')"
  read -r l r t b <<<"$(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,/ /g')"
  import -window root -crop "$((w + l + r))x$((h + t + b))+$((x - l))+$((y - t))" +repage "$2"
  echo "$2"
}

window=$(find_window ZivAdiduz)
shoot "$window" "$out/window.png"

xdotool windowactivate --sync "$window" >/dev/null 2>&1
xdotool key --clearmodifiers space
box=$(find_window Foutmelding Mededeling)
shoot "$box" "$out/box.png"
xdotool windowactivate --sync "$box" >/dev/null 2>&1
xdotool key --clearmodifiers Return
wait "$program_pid" || true
