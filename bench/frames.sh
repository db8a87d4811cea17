#!/bin/sh
# Frame time against triangle count: the demo world with every triangle cut
# into 4^K by its edge midpoints (varnel-tool split K), K = 0..3, about 2.5k,
# 10k, 40k and 160k triangles of the same picture, each rendered by
# varnel-render --bench from the start view. Prints one line per K: the
# world's triangles, the median ms per frame and the median ms of each phase.
#
# Usage: sh bench/frames.sh [VARNEL-RENDER OPTIONS...]   e.g. --threads 1
# The options are passed on to every varnel-render run. VARNEL_BUILD names
# the build folder (default build/release).
#
# The data folders are bench/common.sh's (split_data).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"

# Frames per run: enough for a steady median in a few seconds each.
frames_for() {
  case $1 in
    0 | 1) echo 2000 ;;
    2) echo 500 ;;
    *) echo 200 ;;
  esac
}

# stdin: varnel-tool info's JSON, then varnel-render's output (JSON last).
report_line() {
  python3 -c '
import json, sys
k = sys.argv[1]
text = sys.stdin.read()
info, end = json.JSONDecoder().raw_decode(text)
bench = json.loads(text[end:].strip().splitlines()[-1])
phases = ", ".join("%s %.2f" % (name, ms) for name, ms in bench["phases_ms"].items())
print("K=%s %9s triangles  median %7.2f ms per frame  (%s)" % (k, format(info["faces"], ","), bench["ms_per_frame"]["median"], phases))
' "$1"
}

echo "demo world split K times: varnel-render --bench${*:+ $*}"
for k in 0 1 2 3; do
  dir=$(split_data $k)
  info=$("$tool" info "$dir/Svet.3ds")
  if ! out=$("$render" --data "$dir" --frames "$(frames_for $k)" --bench "$@"); then
    echo "frames.sh: varnel-render failed on $dir" >&2
    exit 1
  fi
  printf '%s\n%s\n' "$info" "$out" | report_line $k
done
