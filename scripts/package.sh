#!/usr/bin/env bash
# Builds the Debian package build/package/zivadiduz_<version>_<arch>.deb: a Release
# build of the programs (no tests), then `cpack -G DEB`. Installs what is missing
# first, like the other scripts. Install the result with `sudo apt install ./...deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DZIVADIDUZ_TESTS=OFF >/dev/null
cmake --build build/package -j "$(nproc)"
(cd build/package && cpack -G DEB)
ls build/package/*.deb
