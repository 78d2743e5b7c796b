#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) from a preset of CMakePresets.json ($PRESET, default
# "default") with the given CMake build type.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
preset=${PRESET:-default}
build=${BUILD_DIR:-$here/build}
type=${BUILD_TYPE:-RelWithDebInfo}
cmake --preset "$preset" -S "$here" -B "$build" -DCMAKE_BUILD_TYPE="$type" ${CMAKE_EXTRA:-} >/dev/null
cmake --build "$build" --parallel "$(nproc)"
