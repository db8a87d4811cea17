#!/bin/sh
# Line coverage of the kept and the working fuzz corpora: each fuzz program,
# built with clang's source coverage (preset fuzz-coverage), runs every input
# of build/fuzz/corpus/<entry> once; llvm-cov then reports the functions of
# that entry's reader.
#
#   tests/fuzz/coverage.sh ENTRY...
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/fuzz-coverage
cmake --preset fuzz-coverage >/dev/null
cmake --build --preset fuzz-coverage >/dev/null

sources() {  # entry: the files of its reader
    case $1 in
    scene_load) echo src/scene/load3ds.cpp src/scene/chunk_io.cpp src/scene/keyframer.cpp src/scene/mesh_post.cpp ;;
    texture_load) echo src/texture/tga.cpp src/texture/texture.cpp ;;
    cone) echo src/texture/tga.cpp src/texture/cone.cpp ;;
    bmp_read) echo src/display/bmp.cpp ;;
    marker_path) echo src/app/marker_path.cpp ;;
    light_file) echo src/app/light_start.cpp ;;
    esac
}

for entry in "$@"; do
    corpus=$root/build/fuzz/corpus/$entry
    [ -d "$corpus" ] || corpus=$root/tests/fuzz/corpus/$entry
    raw=$build/$entry.profraw data=$build/$entry.profdata
    LLVM_PROFILE_FILE=$raw "$build/tests/fuzz/fuzz_$entry" -runs=0 "$corpus" >/dev/null 2>&1
    llvm-profdata merge -sparse "$raw" -o "$data"
    files=""
    for f in $(sources "$entry"); do [ -f "$root/$f" ] && files="$files $root/$f"; done
    echo "== $entry ($(ls "$corpus" | wc -l) inputs)"
    # Per function the entry reaches (the same files also hold code no
    # reader calls: glyph drawing, texture binding), lines and branches.
    # shellcheck disable=SC2086
    llvm-cov report "$build/tests/fuzz/fuzz_$entry" -instr-profile="$data" -show-functions $files |
        awk 'NF >= 10 && $1 != "Name" && $1 != "TOTAL" && $7 != "0.00%" {
                 printf "  lines %7s  branches %7s  %s\n", $7, $8 == 0 ? "-" : $10, $1 }' | c++filt
done
