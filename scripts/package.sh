#!/usr/bin/env bash
# Builds the Debian package quendrix_<version>_<arch>.deb into build/ (or $BUILD_DIR) and prints its path.
# Install it with: apt install ./build/quendrix_*.deb
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/setup.sh"
BUILD_DIR=$build "$here/scripts/build.sh"
cd "$build"
rm -f quendrix_*.deb
if ! log=$(cpack -G DEB 2>&1); then
    printf '%s\n' "$log" >&2
    exit 1
fi
ls "$build"/quendrix_*.deb
