#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the program and its tests,
# runs them, then builds the Qt-free code again under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs its tests, then cross-builds the Windows
# programs and runs their tests under Wine, then runs the fuzz targets briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

jobs=$(nproc)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"
(cd build/release && ctest --output-on-failure -j "$jobs")

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZIVADIDUZ_QT=OFF \
  -DZIVADIDUZ_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
# The SQL round trips load exports into SQLite and PostgreSQL: they test jetdb's text
# and the servers, not the engine's memory use, and take a minute and a half here.
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs" -E '^SqlRoundTrip\.')

# The Windows build and its tests under Wine (jetdb.exe is compared with the jetdb
# built above).
scripts/build-windows.sh --tests
(cd build/windows && ctest --output-on-failure -j "$jobs")

if [ -x scripts/fuzz.sh ]; then
  scripts/fuzz.sh --seconds "${FUZZ_SECONDS:-20}"
fi
