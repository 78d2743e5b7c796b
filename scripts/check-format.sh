#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it; with --fix, rewrites the files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$formatter" ]; then
  echo "check-format: clang-format is not installed (apt-get install clang-format)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^tests/corpus/')
if [ "${1:-}" = "--fix" ]; then
  "$formatter" -i "${files[@]}"
  exit 0
fi
if "$formatter" --dry-run --Werror "${files[@]}" 2>/tmp/qx-format.$$; then
  rm -f /tmp/qx-format.$$
  echo "format: every file as clang-format writes it"
else
  grep -E '^[^ ].*: (error|warning):' /tmp/qx-format.$$ | cut -d: -f1 | sort -u | sed 's/^/not formatted: /'
  rm -f /tmp/qx-format.$$
  echo "run scripts/check-format.sh --fix" >&2
  exit 1
fi
