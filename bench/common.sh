# Sourced by the benchmark scripts, with $root set to the repository: the
# build's programs and demo ($build, $tool, $render, $data; VARNEL_BUILD
# names the build folder, default build/release), checked to be there, and
# split_data.
build=${VARNEL_BUILD:-$root/build/release}
tool=$build/varnel-tool
render=$build/varnel-render
data=$build/data
for f in "$tool" "$render" "$data/Svet.3ds"; do
  [ -e "$f" ] || { echo "${0##*/}: $f is missing; build first (make build)" >&2; exit 1; }
done

# split_data K prints the folder BUILD/bench-data/kK, a copy of BUILD/data
# with Svet.3ds replaced by its split into 4^K (k0 is the world as written
# back by the asset writer), made again when missing or older than the tool
# or the demo world. It is made under a temporary name of its own and moved
# into place, so an interrupted run leaves no folder that looks finished.
split_data() {
  dir=$build/bench-data/k$1
  if [ -f "$dir/Svet.3ds" ] && ! [ "$tool" -nt "$dir/Svet.3ds" ] && ! [ "$data/Svet.3ds" -nt "$dir/Svet.3ds" ]; then
    echo "$dir"
    return 0
  fi
  mkdir -p "$build/bench-data"
  partial=$(mktemp -d "$dir.partial-XXXXXX")
  cp -R "$data/." "$partial"
  rm -f "$partial/.varnel-demo" "$partial/Engine.log"
  "$tool" split --force "$1" "$data/Svet.3ds" "$partial/Svet.3ds" >/dev/null
  rm -rf "$dir"
  mv "$partial" "$dir"
  echo "$dir"
}
