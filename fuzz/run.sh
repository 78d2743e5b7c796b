#!/usr/bin/env bash
# Runs one fuzz target seeded from the image corpus (or fuzz/seeds/) and fuzz/regressions/.
# Usage: fuzz/run.sh jpeg|png|bmp|heic|webp|avif|jxl|profile|encoder|metadata [seconds] [extra libFuzzer options]
# Crashing inputs land in build-fuzz/artifacts/TARGET/; keep each in fuzz/regressions/TARGET/ once fixed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_BUILD_DIR:-$here/build-fuzz}
name=$1; seconds=${2:-600}; shift $(( $# >= 2 ? 2 : 1 ))
corpus=${QUENDRIX_CORPUS:-$here/tests/corpus}
work="$out/corpus-$name"; artifacts="$out/artifacts/$name/"
mkdir -p "$work" "$artifacts"
case $name in
    jpeg) pattern='.*\.(jpe?g|png|bmp)$' ;;  # wrong extensions too: the decoder picks by content
    png)  pattern='.*\.(png|jpe?g|bmp)$' ;;
    bmp)  pattern='.*\.(bmp|png|jpe?g)$' ;;
    heic) pattern='.*\.(heic|avif)$' ;;  # the same container; the sniff sends only HEIF brands on
    webp) pattern='.*\.webp$' ;;
    avif) pattern='.*\.(avif|heic)$' ;;
    jxl)  pattern='.*\.jxl$' ;;
    profile|encoder|metadata) pattern='' ;;
    *) echo "unknown target $name" >&2; exit 2 ;;
esac
if [ -n "$pattern" ]; then
    find "$corpus" -type f -size -100k -regextype posix-extended -iregex "$pattern" -exec cp -n {} "$work/" \; 2>/dev/null || true
else
    cp -n "$here/fuzz/seeds/$name/"* "$work/"
fi
cp -n "$here/fuzz/regressions/$name/"* "$work/" 2>/dev/null || true
exec "$out/fuzz/fuzz_$name" "$work" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=100000 -timeout=30 \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$@"
