#!/bin/sh
# Renders the demo frames shown in the README and the pictures of
# docs/how-it-works.md from the build's demo folder:
#   docs/start.png    the start view, lit from the camera's own position
#   docs/shadows.png  the start view again after the light was moved: walk 28
#                     steps left, climb by looking down and stepping back, look
#                     down and to the right, press F11, then walk back.
#   docs/how-it-works/*.png  the views of that second frame (light, ids,
#                     spans, levels, shadow), a close-up of its spans, and the
#                     chart of its span lengths (Home, then varnel-tool histogram).
#   docs/stage.png    a package model (the Collada duck of assimp-testmodels)
#                     imported onto its stage, at 640 x 360, and
#   docs/stage-shadow.png  its shadow view at 400 x 300 without and with the
#                     light file's smooth-surface rule (skipped without the package).
# Usage: sh docs/make_frames.sh [BUILD_DIR]   (default build/release)
set -e
build=${1:-build/release}
render="$build/varnel-render --data $build/data"
repeat() { i=0; while [ $i -lt "$1" ]; do printf ' %s' "$2"; i=$((i + 1)); done; }

$render --frames 2 --out docs/start.png

events="$(repeat 28 2:key:LEFT) 2:mouse:0,270 $(repeat 5 3:key:DOWN) 3:mouse:120,-210 4:key:F11"
events="$events 4:mouse:-120,210 $(repeat 5 5:key:UP) 5:mouse:0,-270 $(repeat 28 6:key:RIGHT)"
$render --frames 8 --events "$events" --out docs/shadows.png

# The same frame again in a scratch copy of the data, since Home writes
# Graph.txt into the data folder.
guide=docs/how-it-works
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$build/data/." "$scratch/"
mkdir -p $guide
$build/varnel-render --data "$scratch" --frames 8 --events "$events 8:key:HOME" --out "$scratch/view.png" \
    --view light --view ids --view spans --view levels --view shadow
for view in light ids spans levels shadow; do mv "$scratch/view-$view.png" "$guide/$view.png"; done
# A quarter of the floor and the arcade's foot, four times as large, pixel for pixel.
convert "$guide/spans.png" -crop 100x75+150+150 +repage -filter point -resize 400% "$guide/spans-close.png"
$build/varnel-tool histogram --force "$scratch/Graph.txt" "$guide/histogram.png"
duck=/usr/share/assimp/models/Collada/duck.dae
if [ -f "$duck" ]; then
    $build/varnel-tool import "$duck" "$scratch/duck" > /dev/null
    $build/varnel-render --data "$scratch/duck" --frames 1 --size 640x360 --out docs/stage.png
    $build/varnel-tool import --ground none "$duck" "$scratch/bare" > /dev/null
    $build/varnel-render --data "$scratch/bare" --frames 1 --view shadow --out "$scratch/smooth.png"
    grep -v '^smooth$' "$scratch/bare/Light.txt" > "$scratch/plain.txt" && mv "$scratch/plain.txt" "$scratch/bare/Light.txt"
    $build/varnel-render --data "$scratch/bare" --frames 1 --view shadow --out "$scratch/plain.png"
    # The duck's pixels, twice as large, the plain test's on the left.
    convert "$scratch/plain.png" "$scratch/smooth.png" -crop 200x190+100+60 +repage +append -filter point \
        -resize 200% docs/stage-shadow.png
fi
echo "wrote docs/start.png, docs/shadows.png, docs/stage*.png and $guide/*.png"
