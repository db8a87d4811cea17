#!/bin/sh
# Start-up under an address-space limit (prlimit --as): every run of
# varnel-render and varnel-tool ends with exit code 0, 1 or 2, with a line on
# stderr when it is not 0, and never with an abort or a signal. A run that
# ends with 0 writes the same frame, byte for byte, as a run without a limit;
# one that fails leaves no picture behind.
#
# The limits are swept from 16 MB to 256 MB, and again from 16 MB to 256 MB
# above what the dynamic loader alone needs to map each program and its
# libraries (found first; on a machine with large codec libraries that is
# itself over 16 MB, and a run below it ends in the loader, exit code 127,
# before any of the program runs). The world is the demo's split three
# times (160k triangles), at 400 x 300 and 1920 x 1080, on 8 threads too,
# and the demo at 7680 x 4320 writing the light view.
#
# usage: memory_limit_test.sh VARNEL-RENDER VARNEL-TOOL DEMO-DATA SCRATCH
set -u
render=$1 tool=$2 demo=$3 scratch=$4
command -v prlimit >/dev/null 2>&1 || { echo "memory_limit_test: no prlimit (util-linux); skipped"; exit 77; }

rm -rf "$scratch" && mkdir -p "$scratch" || exit 1
world=$scratch/k3
cp -R "$demo" "$world" && rm -f "$world/.varnel-demo" "$world/Engine.log" || exit 1
"$tool" split --force 3 "$demo/Svet.3ds" "$world/Svet.3ds" >/dev/null || exit 1

failures=0 started=0 refused=0 loader=0

# The least limit, in MB, under which `program --help` runs: the loader's own need.
floor_mb() {
  low=1 high=4096
  while [ $((high - low)) -gt 1 ]; do
    mid=$(((low + high) / 2))
    if prlimit --as=$((mid * 1000000)) "$@" --help >/dev/null 2>&1; then high=$mid; else low=$mid; fi
  done
  echo $high
}

# run MB REFERENCE COMMAND...: COMMAND under a limit of MB megabytes. Its
# --out picture (when REFERENCE is not "-") is $scratch/out.bmp.
run() {
  mb=$1 reference=$2
  shift 2
  rm -f "$scratch/out.bmp" "$scratch/err.txt"
  prlimit --as=$((mb * 1000000)) "$@" >/dev/null 2>"$scratch/err.txt"
  rc=$?
  what="at $mb MB: $*"
  if [ $rc -eq 127 ] && grep -q 'error while loading shared libraries' "$scratch/err.txt"; then
    loader=$((loader + 1))  # the program never started
    return
  fi
  started=$((started + 1))
  case $rc in
    0)
      # A frame whose spans found no memory shows the memory warning, and
      # the run says so; any other difference is a fault.
      if [ "$reference" != - ] && ! cmp -s "$reference" "$scratch/out.bmp" &&
        ! grep -q '^varnel-render: warning: not enough memory for the spans' "$scratch/err.txt"; then
        echo "FAIL $what: exit 0, but the picture differs from the one without a limit"
        failures=$((failures + 1))
      fi ;;
    1 | 2)
      refused=$((refused + 1))
      if ! grep -q '^varnel' "$scratch/err.txt"; then
        echo "FAIL $what: exit $rc without a line saying why"
        failures=$((failures + 1))
      fi
      if [ -e "$scratch/out.bmp" ]; then
        echo "FAIL $what: exit $rc, but a picture was left"
        failures=$((failures + 1))
      fi ;;
    *)
      echo "FAIL $what: exit $rc: $(head -c 300 "$scratch/err.txt" | tr '\n' '|')"
      failures=$((failures + 1)) ;;
  esac
}

# 16 to 256 MB in steps of 16, with steps of 2 from 40 to 84, where start-up
# runs out of memory at these sizes.
limits="16 32 48 64 80 96 112 128 144 160 176 192 208 224 240 256"
fine="40 42 44 46 50 52 54 56 58 60 62 66 68 70 72 74 76 78 82 84"

render_floor=$(floor_mb "$render")
for size in 400x300 1920x1080; do
  set -- "$render" --data "$world" --frames 2 --size "$size" --out "$scratch/out.bmp"
  reference=$scratch/reference-$size.bmp
  "$@" 2>/dev/null && mv "$scratch/out.bmp" "$reference" || { echo "FAIL: $* without a limit"; exit 1; }
  for mb in $limits; do run "$mb" "$reference" "$@"; done
  for mb in $limits $fine; do run $((render_floor + mb)) "$reference" "$@"; done
done
set -- "$render" --data "$world" --frames 2 --threads 8 --out "$scratch/out.bmp"
for mb in 16 24 32 40 48 56 64 80 96 128; do run $((render_floor + mb)) "$scratch/reference-400x300.bmp" "$@"; done

# The light view at the largest size, its buffers on top of the frame's:
# from where --size refuses the run to where it is drawn.
set -- "$render" --data "$demo" --frames 2 --size 7680x4320 --events 1:mouse:300,0 --view light --out "$scratch/out.bmp"
for mb in 800 850 900 950 1000 1050 1100 1115 1120 1125 1130 1140 1180; do run $((render_floor + mb)) - "$@"; done

tool_floor=$(floor_mb "$tool")
for mb in 16 24 32 48 64 96 128; do
  rm -rf "$scratch/demo"
  run $((tool_floor + mb)) - "$tool" demo "$scratch/demo"
  run $((tool_floor + mb)) - "$tool" split --force 3 "$demo/Svet.3ds" "$scratch/split.3ds"
done

echo "memory_limit_test: $started runs started ($refused refused with a line), $loader stopped in the loader;" \
  "varnel-render needs $render_floor MB to load, varnel-tool $tool_floor MB"
# The sweep must reach both sides: runs that fail cleanly and runs that draw.
if [ $refused -eq 0 ] || [ $refused -eq $started ]; then
  echo "FAIL: the limits never reached both failing and drawing runs"
  failures=$((failures + 1))
fi
[ $failures -eq 0 ]
