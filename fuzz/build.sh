#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) into build-fuzz/
# through the "fuzz" preset. The normal build makes the same targets with a file runner, and the suite
# replays the seeds and fuzz/regressions/ through them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
command -v clang++ >/dev/null || { echo "fuzz/build.sh needs clang (apt-get install clang)" >&2; exit 1; }
cmake --preset fuzz -S "$here" >/dev/null
cmake --build "$here/build-fuzz" --parallel "$(nproc)" --target fuzz_jpeg fuzz_png fuzz_bmp fuzz_heic fuzz_webp fuzz_avif fuzz_jxl fuzz_profile fuzz_encoder fuzz_metadata
ls "$here"/build-fuzz/fuzz/fuzz_*
