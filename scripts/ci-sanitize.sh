#!/usr/bin/env bash
# Builds the tree with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test program under them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build-asan}
export PRESET=asan
"$here/scripts/setup.sh"
"$here/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# A killed child cannot report, so more kills than one per signal and thread mode find nothing a sanitizer
# could; the plain build's suite runs the many random kills.
export QX_KILL_ROUNDS=${QX_KILL_ROUNDS:-1}
status=0
for t in "$BUILD_DIR"/tests/test_*; do
  [ -f "$t" ] && [ -x "$t" ] || continue
  name=$(basename "$t")
  # Qt's font and platform plugins keep caches for the process's lifetime; leak checks stay on elsewhere.
  leaks=1; [ "$name" = test_ui ] && leaks=0
  echo "== $name (sanitized)"
  if ! ASAN_OPTIONS=detect_leaks=$leaks:abort_on_error=0:strict_string_checks=1 "$t" --gtest_brief=1; then
    status=1
  fi
done
# The fuzz targets' seeds and kept inputs, through the sanitized targets.
(cd "$BUILD_DIR" && ctest -R '^FuzzReplay' --output-on-failure) || status=1
exit $status
