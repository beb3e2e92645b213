#!/usr/bin/env bash
# Builds the Windows programs with Debian's mingw-w64 and leaves them, self-contained
# (C++ runtime linked in, no DLLs beyond Windows' own), as
#   build/windows/zivadiduz.exe    the program
#   build/windows/jetdb.exe        the command-line tool
# Installs what is missing first. `--tests` also builds the Windows test programs,
# which scripts/test.sh runs under Wine (ctest in build/windows).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

targets=(zivadiduz jetdb)
tests=OFF
if [ "${1:-}" = "--tests" ]; then
  tests=ON
  targets+=(windows_tests)
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DZIVADIDUZ_TESTS=$tests \
  "${launcher[@]}" >/dev/null
cmake --build build/windows -j "$(nproc)" --target "${targets[@]}"
cp build/windows/app/win32/zivadiduz.exe build/windows/tools/jetdb/jetdb.exe build/windows/
echo "build/windows/zivadiduz.exe and build/windows/jetdb.exe are ready" >&2
