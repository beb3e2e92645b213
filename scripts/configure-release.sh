#!/usr/bin/env bash
# Configures build/release, the build that the test suite, the demo and the
# screenshots share: optimised as the programs ship, without debug information,
# which would double the compile time of the larger files. One configuration for
# all of them, so that running one after another does not rebuild everything.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
