#!/bin/sh
# Makes the demo's Morvik-like database: usage: make-demo-database.sh JETDB OUT.mdb
# A Jet 3 file (Morvik is an Access 95/97-era application) with customers,
# appointments and notes (scripts/demo-schema.json) plus generated rows, about one in
# eight of them deleted with their memo texts left behind, so that repairing it in the
# demo visibly compacts it. The same seed always gives the same rows.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: $0 JETDB OUT.mdb" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
exec "$1" create --format jet3 --rows 120 --seed 1998 "$here/demo-schema.json" "$2"
