#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs to build, run and test, but only
# those that are missing, then the npm packages of the test oracles (tests/oracles)
# when they are not there yet. Runs apt-get as root, or through sudo for a normal user.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  qt6-base-dev libgl-dev libxcb1-dev fonts-liberation
  libsqlite3-dev postgresql appstream dpkg-dev
  mdbtools xvfb openbox xdotool x11-utils imagemagick time
  dbus at-spi2-core gir1.2-atspi-2.0 python3-gi
  g++-mingw-w64-x86-64-posix wine64 python3-pefile
)
# Node.js and npm run the mdb-reader oracle; a machine may have them from elsewhere.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

oracles="$(dirname "$0")/../tests/oracles"
if [ ! -f "$oracles/node_modules/mdb-reader/package.json" ]; then
  echo "Installing the npm packages of tests/oracles" >&2
  (cd "$oracles" && npm ci --no-audit --no-fund --silent)
fi
