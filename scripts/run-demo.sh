#!/usr/bin/env bash
# Builds the program and starts it on a ready demo folder under the build tree:
# build/demo/program holds the program and a morvik.ini whose [Files] DatabasePath
# names build/demo/data, the folder with the demo database.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

scripts/configure-release.sh
cmake --build build/release -j "$(nproc)" --target zivadiduz jetdb

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/program" "$demo/data"
cp build/release/app/zivadiduz "$demo/program/zivadiduz"
printf '[Files]\r\nDatabasePath=%s\r\n' "$demo/data" > "$demo/program/morvik.ini"
# A small Morvik-like database with deleted rows, made by our own engine, so that the
# repair visibly compacts it.
scripts/make-demo-database.sh build/release/tools/jetdb/jetdb "$demo/data/morvik.mdb"
echo "Demo program folder: $demo/program" >&2
exec "$demo/program/zivadiduz"
