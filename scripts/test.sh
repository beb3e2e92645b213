#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the program and its tests,
# runs them, then builds the Qt-free code again under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs its tests, then cross-builds the Windows
# programs and runs their tests under Wine, then runs the fuzz targets briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

jobs=$(nproc)
# Each stage says when it starts, so that a slow run shows where its time went.
stage() { echo "== test.sh: $1 (at ${SECONDS} s)"; }

stage "release build and tests"

scripts/configure-release.sh
cmake --build build/release -j "$jobs"
(cd build/release && ctest --output-on-failure -j "$jobs")

stage "sanitizer build and tests"
# Under the sanitizers: the engine, the repair procedure, the services and the
# start-up check. The command-line tools' tests (exports against mdbtools, the SQL
# round trips, the repair study) run in the Release build only: the engine paths they
# take, the engine's own tests here and the fuzz targets below take too.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZIVADIDUZ_QT=OFF \
  -DZIVADIDUZ_SANITIZE=ON -DZIVADIDUZ_TOOL_TESTS=OFF >/dev/null
cmake --build build/asan -j "$jobs"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")

stage "Windows build and tests"
# The Windows build and its tests under Wine (jetdb.exe is compared with the jetdb
# built above).
scripts/build-windows.sh --tests
(cd build/windows && ctest --output-on-failure -j "$jobs")

if [ -x scripts/fuzz.sh ]; then
  stage "fuzz targets"
  scripts/fuzz.sh --seconds "${FUZZ_SECONDS:-20}"
fi
stage "done"
