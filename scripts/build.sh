#!/usr/bin/env bash
# Configures and builds Tarvo2 into ./build (or $BUILD_DIR). Arguments before
# an optional --target go to CMake's configure step, the rest to the build.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
configure=() build=()
while [ $# -gt 0 ] && [ "$1" != --target ]; do configure+=("$1"); shift; done
build=("$@")
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "${launcher[@]}" \
  "${configure[@]}" >/dev/null
cmake --build "$BUILD_DIR" --parallel "$(nproc)" "${build[@]}"
