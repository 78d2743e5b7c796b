#!/usr/bin/env bash
# Runs test programs as GoogleTest shards, as many at a time as there are cores, so that a slow program does
# not keep the other core idle. Each shard's output goes to a log beside it and is shown when it fails.
# Usage: run-shards.sh LOG_DIR SHARDS PROGRAM...
set -euo pipefail
logs=$1; shards=$2; shift 2
mkdir -p "$logs"
run_one() {
  local program=$1 index=$2 shards=$3 logs=$4
  local name; name=$(basename "$program")
  local log="$logs/$name.$index.log"
  if GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$index "$program" --gtest_brief=1 >"$log" 2>&1; then
    echo "== $name shard $index/$shards passed"
  else
    echo "== $name shard $index/$shards FAILED"; tail -n 80 "$log"; return 1
  fi
}
export -f run_one
for program in "$@"; do
  for ((i = 0; i < shards; i++)); do printf '%s\0%s\0' "$program" "$i"; done
done | xargs -0 -n 2 -P "$(nproc)" bash -c 'run_one "$1" "$2" '"$shards"' '"$logs" _
