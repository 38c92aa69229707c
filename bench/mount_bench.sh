#!/usr/bin/env bash
# The mount benchmark: builds qvork and qvork.so (Release, the benchmarks'
# build folder) and mount_bench_sites, writes a cache with a 65533-record
# site and a site holding one 100 MB body, and measures, best of N runs,
# each mount fresh (nothing cached):
#   1. `find MOUNT/SITE | wc -l` against `qvork ls -R SITE | wc -l`
#      (target: at most 3x);
#   2. `cat MOUNT/big.example.com/big.bin` against `cat` of the site file
#      itself, warm (target: at least half as fast, i.e. at most 2x the time);
#      the first read on a fresh mount copies the body out through GetFiles,
#      so the same read again on that mount is shown beside it (the kernel
#      keeps the pages of the read-only file).
# Prints each figure, its floor and the ratio. Needs /dev/fuse and fusermount3.
# Usage: bench/mount_bench.sh [--build-dir DIR] [--runs N]
set -eu -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$root/build/bench
runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "mount_bench: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -c /dev/fuse ] && command -v fusermount3 >/dev/null ||
  { echo "mount_bench: needs /dev/fuse and fusermount3" >&2; exit 1; }

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qvork qvork_plugin mount_bench_sites -j 2 >/dev/null
qvork=$build/qvork/qvork
[ -x "$qvork" ] || qvork=$(find "$build" -name qvork -type f -perm -u+x | head -1)

work=$(mktemp -d "${TMPDIR:-/tmp}/qvork-mount-bench.XXXXXX")
mnt=$work/mnt
pid=
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && fusermount3 -u "$mnt"
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$mnt"
mapfile -t sites < <("$build/mount_bench_sites" "$work/cache")
deep=${sites[0]}
export QVORK_REGISTRY=$work/registry.reg TMPDIR=$work

mount_fresh() {
  "$qvork" mount -f "$work/cache" "$mnt" 2>"$work/mount.log" &
  pid=$!
  until mountpoint -q "$mnt"; do sleep 0.05; done
}
unmount() { fusermount3 -u "$mnt"; wait "$pid"; pid=; }
# seconds COMMAND: wall time of a shell command, in seconds.
seconds() {
  local start end
  start=$(date +%s%N)
  bash -c "$1" >/dev/null
  end=$(date +%s%N)
  echo "scale=3; ($end - $start) / 1000000000" | bc
}
min() { printf '%s\n' "$@" | sort -n | head -1; }
report() { # NAME FIGURE FLOOR TARGET
  local ratio
  ratio=$(echo "scale=2; $2 / $3" | bc)
  printf '%-44s %8.3f s  floor %8.3f s  ratio %5.2f  (target <= %s) %s\n' "$1" "$2" "$3" \
    "$ratio" "$4" "$([ "$(echo "$ratio <= $4" | bc)" = 1 ] && echo ok || echo MISSED)"
}

echo "mount_bench: $runs runs each, best taken; $(nproc) CPUs, $(uname -r)"
finds=() lists=() reads=() again=() cats=()
count_mount=0 count_ls=0
for _ in $(seq "$runs"); do
  mount_fresh
  finds+=("$(seconds "find '$mnt/$deep' | wc -l")")
  count_mount=$(find "$mnt/$deep" | wc -l)
  reads+=("$(seconds "cat '$mnt/big.example.com/big.bin'")")
  again+=("$(seconds "cat '$mnt/big.example.com/big.bin'")")
  unmount
  lists+=("$(seconds "'$qvork' --cache '$work/cache' ls -R '$deep' | wc -l")")
  cat "$work/cache/icache/cache2" >/dev/null
  cats+=("$(seconds "cat '$work/cache/icache/cache2'")")
done
count_ls=$("$qvork" --cache "$work/cache" ls -R "$deep" 2>/dev/null | wc -l || true)
echo "entries: find over the mount $count_mount, qvork ls -R $count_ls"
if "$qvork" --cache "$work/cache" ls -R "$deep" >/dev/null 2>&1; then
  report "find MOUNT/SITE | wc -l (65533 records)" "$(min "${finds[@]}")" "$(min "${lists[@]}")" 3
else
  echo "find MOUNT/SITE: $(min "${finds[@]}") s; floor missing: this qvork has no ls -R"
fi
report "cat of a 100 MB body through the mount" "$(min "${reads[@]}")" "$(min "${cats[@]}")" 2
report "the same cat again on that mount" "$(min "${again[@]}")" "$(min "${cats[@]}")" 2
