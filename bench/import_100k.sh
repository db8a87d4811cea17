#!/bin/sh
# Times varnel-tool import on a 100,000-triangle model: a torus of 250 x 200
# quads written as OBJ, with mapping coordinates and no image (the time is
# the model's, not the texture encoder's).
#
#   sh bench/import_100k.sh [BUILD]      # BUILD: build/release by default
set -e
build=${1:-build/release}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk 'BEGIN {
    around = 250; across = 200; pi = 3.14159265358979
    for (i = 0; i < around; i++)
        for (j = 0; j < across; j++) {
            a = 2 * pi * i / around; b = 2 * pi * j / across; r = 10 + 3 * cos(b)
            printf "v %.5f %.5f %.5f\nvt %.5f %.5f\n", r * cos(a), 3 * sin(b), r * sin(a), i / around, j / across
        }
    for (i = 0; i < around; i++)
        for (j = 0; j < across; j++) {
            p = i * across + j + 1; q = ((i + 1) % around) * across + j + 1
            p2 = i * across + (j + 1) % across + 1; q2 = ((i + 1) % around) * across + (j + 1) % across + 1
            printf "f %d/%d %d/%d %d/%d\nf %d/%d %d/%d %d/%d\n", p, p, p2, p2, q2, q2, p, p, q2, q2, q, q
        }
}' > "$work/torus.obj"
echo "model: $(grep -c '^f' "$work/torus.obj") triangles, $(du -h "$work/torus.obj" | cut -f1)"
/usr/bin/time -f "import: %e s wall, %U s user, %M KB peak" "$build/varnel-tool" import "$work/torus.obj" "$work/data" |
    grep -E "triangles|folder"
