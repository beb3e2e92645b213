#!/usr/bin/env bash
# A throwaway PostgreSQL server for tests.
#   postgres.sh start DIR   makes a cluster in DIR/data that listens only on a unix
#                           socket in DIR/socket (no TCP port), starts it, waits until
#                           pg_isready says it takes connections, prints the socket
#                           folder; superuser "jetdb", no password
#   postgres.sh stop DIR    stops it (pg_ctl -w stop) and waits until the socket is gone
# PostgreSQL refuses to run as root, so as root the server runs as `nobody`.
# Exit status 77 when PostgreSQL is not installed (initdb and pg_ctl are not found).
set -euo pipefail

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
    # pg_ctl -w already waited; pg_isready is the probe a client trusts.
    for _ in $(seq 1 100); do
      if "$bin/pg_isready" -q -h "$dir/socket" -U jetdb; then
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
    [ -f "$dir/data/postmaster.pid" ] || exit 0
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -w -t 60 -m fast stop >/dev/null
    for _ in $(seq 1 100); do
      [ -e "$dir/socket/.s.PGSQL.5432" ] || exit 0
      sleep 0.1
    done
    echo "PostgreSQL's socket is still there after it stopped" >&2
    exit 1
    ;;
  *)
    echo "usage: postgres.sh start|stop DIR" >&2
    exit 2
    ;;
esac
