# Sourced by the benchmark scripts, with $build, $tool and $data set:
# split_data K prints the folder BUILD/bench-data/kK, a copy of BUILD/data
# with Svet.3ds replaced by its split into 4^K (k0 is the world as written
# back by the asset writer), made again when missing or older than the tool
# or the demo world. It is made under a temporary name and moved into
# place, so an interrupted run leaves no folder that looks finished.
split_data() {
  dir=$build/bench-data/k$1
  if [ -f "$dir/Svet.3ds" ] && ! [ "$tool" -nt "$dir/Svet.3ds" ] && ! [ "$data/Svet.3ds" -nt "$dir/Svet.3ds" ]; then
    echo "$dir"
    return 0
  fi
  rm -rf "$dir" "$dir.partial"
  mkdir -p "$build/bench-data"
  cp -R "$data" "$dir.partial"
  rm -f "$dir.partial/.varnel-demo" "$dir.partial/Engine.log"
  "$tool" split --force "$1" "$data/Svet.3ds" "$dir.partial/Svet.3ds" >/dev/null
  mv "$dir.partial" "$dir"
  echo "$dir"
}
