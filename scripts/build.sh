#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) with the given CMake build type.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" ${CMAKE_EXTRA:-} >/dev/null
cmake --build "$build" --parallel "$(nproc)"
