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
export LSAN_OPTIONS="suppressions=$here/scripts/lsan.supp ${LSAN_OPTIONS:-}"
# A killed child cannot report, so more kills than one per signal and thread mode find nothing a sanitizer
# could; the plain build's suite runs the many random kills.
export QX_KILL_ROUNDS=${QX_KILL_ROUNDS:-1}
status=0
programs=()
for t in "$BUILD_DIR"/tests/test_*; do
  [ -f "$t" ] && [ -x "$t" ] && [ "$(basename "$t")" != test_ui ] && programs+=("$t")
done
shards=$(nproc)
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
  "$here/scripts/run-shards.sh" "$BUILD_DIR/shards" "$shards" "${programs[@]}" || status=1
# Qt's font and platform plugins keep caches for the process's lifetime; leak checks stay on elsewhere.
if [ -x "$BUILD_DIR/tests/test_ui" ]; then
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:strict_string_checks=1 \
    "$here/scripts/run-shards.sh" "$BUILD_DIR/shards" "$shards" "$BUILD_DIR/tests/test_ui" || status=1
fi
# The fuzz targets' seeds and kept inputs, through the sanitized targets.
(cd "$BUILD_DIR" && ctest -R '^FuzzReplay' --output-on-failure) || status=1
exit $status
