#!/bin/sh
# Varnel against the same frame drawn with OpenGL on Mesa llvmpipe, both on
# 2 threads, scene by scene: the demo world split K = 0..3 times (2.5k to
# 160k triangles) at 400 x 300 from the start view and with both passes in
# full (the camera turned off the light after the first frame), the demo at
# 1920 x 1080 and 3840 x 2160 and split three times at 1920 x 1080 with both
# passes, then Varnel on 2 threads against 1. Each line is the medians of
# REPS alternating runs, the ratio, and the goal it is held against.
#
# Usage: sh bench/ratios.sh [REPS]   (default 3; a whole run takes about 15
# minutes). PEER_GL names the peer's compare.sh (default: the workplace's,
# ../shared/peer-gl/compare.sh beside the repository); VARNEL_BUILD the
# build folder (default build/release). The machine's load average is
# printed before and after: under load llvmpipe loses more than Varnel, so
# take the ratios with it below 1.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
peer=${PEER_GL:-$root/../shared/peer-gl/compare.sh}
reps=${1:-3}

[ -x "$peer" ] || { echo "ratios.sh: no peer at $peer (set PEER_GL to its compare.sh)" >&2; exit 1; }

load() { cut -d' ' -f1 /proc/loadavg; }

# row LABEL GOAL DATADIR [VARNEL-RENDER OPTIONS...]: one compared line.
row() {
  label=$1 goal=$2 dir=$3
  shift 3
  line=$("$peer" "$render" "$dir" "$reps" -- --threads 2 "$@" | tail -n 1)
  echo "$line" | python3 -c '
import re, sys
label, goal = sys.argv[1], float(sys.argv[2])
m = re.search(r"varnel ([\d.]+) ms/frame, llvmpipe 2 threads ([\d.]+) \(([\d.]+)x\)", sys.stdin.read())
ours, peer, ratio = (float(g) for g in m.groups())
print("%-34s varnel %8.3f ms  llvmpipe %8.3f ms  %5.2fx  (goal %.0fx: %s)" % (label, ours, peer, ratio, goal, "met" if ratio >= goal else "not yet"))
' "$label" "$goal"
}

# Varnel's own median at --threads T.
median() {
  "$render" --data "$1" --frames 2000 --bench --threads "$2" --events 1:mouse:1,0 | tail -n 1 |
    python3 -c 'import json, sys; print(json.loads(sys.stdin.read())["ms_per_frame"]["median"])'
}

echo "load average before: $(load)"
both="--events 1:mouse:1,0"
for k in 0 1 2 3; do
  dir=$(split_data $k)
  row "K=$k 400x300 start view" 5 "$dir"
  row "K=$k 400x300 both passes" 4 "$dir" $both
done
row "demo 1920x1080 both passes" 8 "$data" --size 1920x1080 $both
row "demo 3840x2160 both passes" 10 "$data" --size 3840x2160 $both
row "K=3 1920x1080 both passes" 5 "$(split_data 3)" --size 1920x1080 $both
one=""; two=""
for i in $(seq $((reps * 2 + 1))); do
  one="$one $(median "$data" 1)"
  two="$two $(median "$data" 2)"
done
# The ratio is the median of the pairs' ratios: the machine's speed can
# change from one process to the next, and a pair shares one spell of it.
python3 -c '
import statistics as st, sys
one, two = ([float(x) for x in a.split()] for a in sys.argv[1:3])
ratio = st.median(a / b for a, b in zip(one, two))
print("%-34s 1 thread %8.3f ms  2 threads %8.3f ms  %5.2fx  (goal 1.7x: %s)" % ("demo 400x300 both passes, threads", st.median(one), st.median(two), ratio, "met" if ratio >= 1.7 else "not yet"))
' "$one" "$two"
echo "load average after: $(load)"
