#!/bin/sh
# Runs fuzz programs for SECONDS each, JOBS at a time, on working corpora
# under build/fuzz/corpus seeded from the kept inputs and the demo data.
# Inputs that make a program fail land in build/fuzz/findings/<entry>/;
# copy each one into tests/fuzz/corpus/<entry>/ once mended.
#
#   tests/fuzz/run.sh SECONDS JOBS ENTRY...
set -u
seconds=$1 jobs=$2
shift 2
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/fuzz
data=$root/build/release/data

seed() {  # entry: demo files matching what the entry reads
    case $1 in
    scene_load) ls "$data"/*.3ds ;;
    texture_load) ls "$data"/Textures/Gold.tga ;;
    cone) ls "$data"/Cone.tga ;;
    bmp_read) ls "$data"/Font.bmp ;;
    marker_path) ls "$data"/Pos.txt ;;
    light_file) ls "$root"/tests/fuzz/corpus/light_file/* ;;
    esac 2>/dev/null
}

max_len() {  # long enough for a small real file, short enough to mutate fast
    case $1 in
    scene_load) echo 131072 ;;
    marker_path | light_file) echo 4096 ;;
    *) echo 32768 ;;
    esac
}

run_one() {
    entry=$1
    corpus=$build/corpus/$entry findings=$build/findings/$entry log=$build/logs/$entry.log
    mkdir -p "$corpus" "$findings" "$build/logs"
    cp "$root"/tests/fuzz/corpus/"$entry"/* "$corpus"/ 2>/dev/null
    for f in $(seed "$entry"); do cp "$f" "$corpus/demo_$(basename "$f")"; done
    "$build/tests/fuzz/fuzz_$entry" -max_total_time="$seconds" -max_len="$(max_len "$entry")" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1
    status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
    echo "$entry: exit $status, ${execs:-?} runs, ${cov:-cov: ?}, corpus $(ls "$corpus" | wc -l)," \
         "findings $(ls "$findings" | wc -l) (log $log)"
}

status=0
while [ $# -gt 0 ]; do
    pids=""
    i=0
    while [ $# -gt 0 ] && [ $i -lt "$jobs" ]; do
        run_one "$1" &
        pids="$pids $!"
        shift
        i=$((i + 1))
    done
    for p in $pids; do wait "$p" || status=1; done
done
exit $status
