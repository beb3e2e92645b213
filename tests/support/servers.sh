# shellcheck shell=bash
# The servers a test runs beside the program: a private session bus with the
# accessibility (AT-SPI) bus and registry, an X server (Xvfb) and a window manager
# (openbox). Source it from bash, in a script without job control.
#
#   start_session_bus DIR          exports DBUS_SESSION_BUS_ADDRESS
#   start_x_server DIR [SCREEN]    exports DISPLAY; SCREEN as Xvfb takes it, 1024x768x24
#   start_window_manager DIR
#   stop_servers                   stops them all, the last one started first
#
# DIR receives the servers' logs. Each returns non-zero, with a message and the log on
# stderr, when the server did not come up or did not go away.
#
# A start returns only once the server serves: dbus-daemon and Xvfb write their
# address to a descriptor when they accept connections, and the window manager names
# itself on the root window once it owns the screen. A stop returns only once the
# server and everything it started are gone, and its sockets with them, so that
# nothing of one test is left when the next one starts.
#
# Xvfb runs with -noreset. Without it the server starts over whenever its last client
# leaves, and drops the connections still being set up: a probe that comes and goes
# while the window manager connects makes the window manager fail to open the display.

# One "PID SOCKET=ID..." entry per running server, in the order they were started
# (ID as socket_id gave it once the server was up). Each
# server leads a process group of its own (setsid), so that a stop reaches what it
# started too: the session bus starts the accessibility bus launcher, which starts a
# second dbus-daemon.
servers_running=()

# How long a server may take to start, and to stop, in seconds.
server_start_limit=30
server_stop_limit=10

# wait_for_line FILE PID NAME: waits for the first complete line of FILE, which the
# server PID writes once it accepts connections.
wait_for_line() {
  local file=$1 pid=$2 name=$3 end=$((SECONDS + server_start_limit))
  while [ $SECONDS -lt $end ]; do
    [ "$(wc -l <"$file")" -ge 1 ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "$name did not start" >&2
  return 1
}

start_session_bus() {
  local dir=$1 pid a11y timeout=--reply-timeout=$((server_start_limit * 1000))
  setsid dbus-daemon --session --nofork --nopidfile --address="unix:path=$dir/bus" \
    --print-address=3 3>"$dir/bus-address" >"$dir/bus.log" 2>&1 &
  pid=$!
  servers_running+=("$pid")
  wait_for_line "$dir/bus-address" "$pid" dbus-daemon || { cat "$dir/bus.log" >&2; return 1; }
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$dir/bus-address")
  export DBUS_SESSION_BUS_ADDRESS
  remember_sockets "$dir/bus"
  # The accessibility bus and its registry start when first asked for, which would
  # make the first program wait for them; ask now. Each call returns once the
  # service it names has started and answers.
  if a11y=$(dbus-send --session --print-reply=literal "$timeout" \
              --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress) &&
     read -r a11y <<<"$a11y" &&
     dbus-send --bus="$a11y" --print-reply "$timeout" \
       --dest=org.a11y.atspi.Registry /org/a11y/atspi/accessible/root \
       org.freedesktop.DBus.Properties.Get string:org.a11y.atspi.Accessible string:Name >/dev/null
  then
    a11y=${a11y#unix:path=}
    remember_sockets "${a11y%%,*}"
  else
    echo "the accessibility bus did not start" >&2
    cat "$dir/bus.log" >&2
    return 1
  fi
}

start_x_server() {
  local dir=$1 pid number
  # With -displayfd, Xvfb takes the first display number whose sockets it can bind.
  setsid Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "${2:-1024x768x24}" \
    3>"$dir/x-display" >"$dir/xvfb.log" 2>&1 &
  pid=$!
  servers_running+=("$pid")
  wait_for_line "$dir/x-display" "$pid" Xvfb || { cat "$dir/xvfb.log" >&2; return 1; }
  number=$(head -n1 "$dir/x-display")
  remember_sockets "/tmp/.X11-unix/X$number" "@/tmp/.X11-unix/X$number"
  export DISPLAY=:$number
}

start_window_manager() {
  local dir=$1 pid check end=$((SECONDS + server_start_limit))
  setsid openbox --sm-disable >"$dir/openbox.log" 2>&1 &
  pid=$!
  servers_running+=("$pid")
  while [ $SECONDS -lt $end ]; do
    # The window that _NET_SUPPORTING_WM_CHECK on the root names carries the window
    # manager's name; openbox sets both once it holds the screen's WM selection.
    check=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # //p')
    [ -n "$check" ] && xprop -id "$check" _NET_WM_NAME 2>/dev/null | grep -q '"Openbox"' &&
      return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "openbox did not start" >&2
  cat "$dir/openbox.log" >&2
  return 1
}

stop_servers() {
  local i stopped=0
  for ((i = ${#servers_running[@]} - 1; i >= 0; i--)); do
    # shellcheck disable=SC2086  # the entry is words: PID SOCKET...
    stop_server ${servers_running[i]} || stopped=1
  done
  servers_running=()
  return $stopped
}

# stop_server PID [SOCKET=ID...]: ends the process group PID leads and waits until
# none of its processes is left, then checks that each SOCKET the server had is gone.
# Another server may have taken the name since: only the same socket counts.
stop_server() {
  local pid=$1 socket end=$((SECONDS + server_stop_limit))
  shift
  kill -TERM -- "-$pid" 2>/dev/null
  while group_alive "$pid" && [ $SECONDS -lt $end ]; do
    sleep 0.1
  done
  if group_alive "$pid"; then
    echo "server $pid did not end on SIGTERM; killed" >&2
    kill -KILL -- "-$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 1
  fi
  wait "$pid" 2>/dev/null
  for socket; do
    if [ -n "${socket##*=}" ] && [ "$(socket_id "${socket%=*}")" = "${socket##*=}" ]; then
      echo "server $pid ended but left its socket ${socket%=*}" >&2
      return 1
    fi
  done
}

# group_alive PGID: some process of group PGID still runs. A zombie does not count:
# its parent, not the test, reaps it (orphans may wait long for that in a container).
group_alive() {
  local stat line fields
  for stat in /proc/[0-9]*/stat; do
    { read -r line <"$stat"; } 2>/dev/null || continue
    # The fields after "(command)": state, parent, process group, ...
    read -r -a fields <<<"${line##*) }"
    [ "${fields[2]}" = "$1" ] && [ "${fields[0]}" != Z ] && return 0
  done
  return 1
}

# socket_id SOCKET: what tells this very socket from a later one of the same name:
# for a path the file's device, inode and change time, for an abstract @name the
# kernel's inode of the socket. Empty when there is none.
socket_id() {
  case $1 in
    @*) awk -v name="$1" '$8 == name { print $7; exit }' /proc/net/unix ;;
    *) [ -S "$1" ] && stat -c '%d:%i:%.9Z' "$1" ;;
  esac
}

# remember_sockets SOCKET...: adds each SOCKET with its socket_id to the entry of the
# server started last.
remember_sockets() {
  local socket
  for socket; do
    servers_running[-1]+=" $socket=$(socket_id "$socket")"
  done
}
