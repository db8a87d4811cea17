#!/bin/sh
# Renders the demo frames shown in the README from the build's demo folder:
#   docs/start.png    the start view, lit from the camera's own position
#   docs/shadows.png  the start view again after the light was moved: walk 28
#                     steps left, climb by looking down and stepping back, look
#                     down and to the right, press F11, then walk back.
# Usage: sh docs/make_frames.sh [BUILD_DIR]   (default build/release)
set -e
build=${1:-build/release}
render="$build/varnel-render --data $build/data"
repeat() { i=0; while [ $i -lt "$1" ]; do printf ' %s' "$2"; i=$((i + 1)); done; }

$render --frames 2 --out docs/start.png

events="$(repeat 28 2:key:LEFT) 2:mouse:0,270 $(repeat 5 3:key:DOWN) 3:mouse:120,-210 4:key:F11"
events="$events 4:mouse:-120,210 $(repeat 5 5:key:UP) 5:mouse:0,-270 $(repeat 28 6:key:RIGHT)"
$render --frames 8 --events "$events" --out docs/shadows.png
echo "wrote docs/start.png and docs/shadows.png"
