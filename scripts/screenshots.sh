#!/bin/sh
# Pictures of the main window (empty and with rows), its menu, the Parameter dialog and the info box.
# Usage: scripts/screenshots.sh [build-dir] [output-dir]
set -e
build=${1:-build}
out=${2:-$build/screenshots}
cmake --build "$build" --target test_ui quendrix
mkdir -p "$out"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} QUENDRIX_SCREENSHOT_DIR="$out" \
    "$build/tests/test_ui" --gtest_filter='Screenshots.*'
ls "$out"/*.png
