#!/usr/bin/env bash
# Builds the tree with ThreadSanitizer and runs the test programs that drive worker threads: the batch, the
# memory budget, the intake, quendrix-batch and the hardening tests (whose quendrix-batch children are built
# with it too and exit with 66 on a report). The widget tests are left out: Qt's own libraries are not
# instrumented, so every signal across threads would be reported.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build-tsan}
"$here/scripts/setup.sh"
cmake --preset tsan -S "$here" -B "$BUILD_DIR" ${CMAKE_EXTRA:-} >/dev/null
programs=(test_engine test_settings test_intake test_cli test_hardening)
cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target quendrix-batch "${programs[@]}"
export QT_QPA_PLATFORM=offscreen
# The hardening tests run some children as nobody, who must read the suppressions too; a checkout may lie in
# a folder only root may enter (mktemp -d makes one).
suppressions=$(mktemp /tmp/quendrix-tsan-XXXXXX.supp)
trap 'rm -f "$suppressions"' EXIT
cp "$here/scripts/tsan.supp" "$suppressions"
chmod 644 "$suppressions"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$suppressions ${TSAN_OPTIONS:-}"
# A killed child cannot report, so more kills than one per signal and thread mode find nothing a sanitizer
# could; the plain build's suite runs the many random kills.
export QX_KILL_ROUNDS=${QX_KILL_ROUNDS:-1}
# Thousands of files through the batch program for the shards: slow under this sanitizer and no threads of
# ours that the other batch tests do not drive already.
export GTEST_FILTER=${GTEST_FILTER:--CollectionTest.FourShardsRunByParallel*}
paths=()
for name in "${programs[@]}"; do paths+=("$BUILD_DIR/tests/$name"); done
"$here/scripts/run-shards.sh" "$BUILD_DIR/shards" "$(nproc)" "${paths[@]}"
