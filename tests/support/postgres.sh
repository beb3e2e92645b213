#!/usr/bin/env bash
# A throwaway PostgreSQL server for tests.
#   postgres.sh start DIR   makes a cluster in DIR/data that listens only on a unix
#                           socket in DIR/socket (no TCP port), starts it, waits until
#                           pg_isready says it takes connections, prints the socket
#                           folder; superuser "jetdb", no password
#   postgres.sh stop DIR    stops it (pg_ctl -w stop), waits until the server and
#                           every process it started are gone, then checks that its
#                           socket is gone too (by identity, as servers.sh does)
# PostgreSQL refuses to run as root, so as root the server runs as `nobody`.
# Exit status 77 when PostgreSQL is not installed (initdb and pg_ctl are not found).
set -euo pipefail
# shellcheck source=tests/support/servers.sh
. "$(dirname "$0")/servers.sh"  # group_alive, socket_id, the stop limit

command=${1:?start or stop}
dir=$(cd "${2:?folder}" && pwd)
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ] || [ ! -x "$bin/pg_ctl" ]; then
  echo "PostgreSQL server programs (initdb, pg_ctl) are not installed" >&2
  exit 77
fi
as_server=()
if [ "$(id -u)" -eq 0 ]; then
  as_server=(runuser -u nobody --)
  chmod a+x "$dir"  # the server's user must reach its folders
fi

case "$command" in
  start)
    mkdir -p "$dir/data" "$dir/socket" "$dir/log"
    [ "$(id -u)" -eq 0 ] && chown nobody "$dir/data" "$dir/socket" "$dir/log"
    "${as_server[@]}" "$bin/initdb" -D "$dir/data" -U jetdb --auth=trust -E UTF8 --locale=C.UTF-8 \
      >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/log/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $dir/socket -c fsync=off" start >/dev/null ||
      { cat "$dir/log/server.log" >&2; exit 1; }
    # What the stop waits for: the server, which pg_ctl made lead a process group of
    # its own that its backends share.
    head -n 1 "$dir/data/postmaster.pid" >"$dir/server-pid"
    # pg_ctl -w already waited; pg_isready is the probe a client trusts.
    for _ in $(seq 1 100); do
      if "$bin/pg_isready" -q -h "$dir/socket" -U jetdb; then
        # ... and the socket it must take away: this very one, not a later namesake.
        socket_id "$dir/socket/.s.PGSQL.5432" >"$dir/socket-id"
        echo "$dir/socket"
        exit 0
      fi
      sleep 0.1
    done
    echo "PostgreSQL did not become ready; its log:" >&2
    cat "$dir/log/server.log" >&2
    exit 1
    ;;
  stop)
    [ -f "$dir/server-pid" ] || exit 0
    pid=$(cat "$dir/server-pid")
    # pg_ctl returns once the pid file is gone, which the server removes just
    # before it ends: wait for its processes, then look at the socket.
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -w -t 60 -m fast stop >/dev/null || true
    end=$((SECONDS + server_stop_limit))
    while group_alive "$pid" && [ $SECONDS -lt $end ]; do sleep 0.1; done
    if group_alive "$pid"; then
      echo "PostgreSQL ($pid) did not end; killed" >&2
      kill -KILL -- "-$pid" 2>/dev/null
      exit 1
    fi
    rm -f "$dir/server-pid"
    if [ -n "$(socket_id "$dir/socket/.s.PGSQL.5432")" ] &&
       [ "$(socket_id "$dir/socket/.s.PGSQL.5432")" = "$(cat "$dir/socket-id" 2>/dev/null)" ]; then
      echo "PostgreSQL ended but left its socket $dir/socket/.s.PGSQL.5432" >&2
      exit 1
    fi
    ;;
  *)
    echo "usage: postgres.sh start|stop DIR" >&2
    exit 2
    ;;
esac
