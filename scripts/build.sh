#!/usr/bin/env bash
# Configures and builds the project into build/ (set BUILD_DIR to build elsewhere). Further
# arguments go to CMake's configure step (for example -DHALVERN_SANITIZE=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache (when present) shares compiled objects between checkouts of the tree.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(pwd)}
BUILD_DIR=${BUILD_DIR:-build}
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
