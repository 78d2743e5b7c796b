#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) into build-fuzz/
# (or $FUZZ_BUILD_DIR). Separate from the CMake build: the suite replays fuzz/regressions/ itself.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_BUILD_DIR:-$here/build-fuzz}
mkdir -p "$out/obj"
cxx=${CXX_FUZZ:-clang++}
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -I"$here" $(pkg-config --cflags libjpeg spng))
libs=($(pkg-config --libs libjpeg spng) -lpthread)

# Compiles one source into obj/ when it is newer than its object; prints the object.
object() {
    local src=$1 extra=${2:-}
    local obj="$out/obj/$(echo "${src#$here/}$extra" | tr '/ =' '___').o"
    if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find "$here/engine" "$here/app" "$here/intake" -name '*.h' -newer "$obj" -print -quit)" ]; then
        "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link $extra -c "$src" -o "$obj"
    fi
    echo "$obj"
}

imaging=()
for src in "$here"/engine/imaging/*.cpp; do imaging+=("$(object "$src")"); done
# The settings readers need the settings rules and what they call, but no codec.
settings=("$(object "$here/app/profile_store.cpp")" "$(object "$here/app/settings.cpp")"
          "$(object "$here/app/settings_location.cpp")" "$(object "$here/engine/paths.cpp")")

declare -A formats=([jpeg]=1 [png]=2 [bmp]=3)
for name in jpeg png bmp; do
    "$cxx" "${flags[@]}" -fsanitize=fuzzer -DQX_FUZZ_FORMAT="${formats[$name]}" \
        "$here/fuzz/image_fuzzer.cpp" "${imaging[@]}" "${libs[@]}" -o "$out/fuzz_$name"
done
"$cxx" "${flags[@]}" -fsanitize=fuzzer "$here/fuzz/profile_fuzzer.cpp" "${settings[@]}" "${imaging[@]}" \
    "${libs[@]}" -o "$out/fuzz_profile"
ls "$out"/fuzz_*
