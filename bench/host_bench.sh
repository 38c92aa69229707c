#!/usr/bin/env bash
# shellcheck disable=SC2016 # the PREPARE texts of measure are eval'ed there
# The console host's benchmarks, each a ratio to a floor measured in the same
# run (median of RUNS timed runs after one warm-up):
#   (f) qvork ls -lR of a 65533-record site / qvork ls -R of it   (target <= 10)
#   (g) qvork get --decode of TOTAL_MB MB of gzip bodies
#       / zcat of the same bodies into files                        (target <= 1.5)
#   (h) qvork get --offline of 1000 pages / qvork get of them       (target <= 2)
# Usage: bench/host_bench.sh QVORK MAKE_HOST_BENCH_SITES WORK [RUNS] [TOTAL_MB]
set -eu -o pipefail

qvork=$1
make_sites=$2
work=$3
runs=${4:-5}
total_mb=${5:-200}
export QVORK_REGISTRY=$work/registry.reg

echo "== console host: writing the benchmark caches ($total_mb MB of gzip bodies)"
"$make_sites" "$work/sites" "$total_mb"

# median SECONDS...: the middle value.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# timed COMMAND...: "WALL CPU" in seconds (CPU: user + system of it and its
# children; the machine may be shared), output discarded.
timed() {
  local start end cpu
  start=$(date +%s.%N)
  /usr/bin/env time -o "$work/cpu" -f '%U %S' "$@" >/dev/null 2>&1 ||
    { echo "host_bench: failed: $*" >&2; exit 1; }
  cpu=$(tail -n 1 "$work/cpu")
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc -l) $(echo "$cpu" | awk '{ print $1 + $2 }')"
}
# measure PREPARE COMMAND...: "WALL CPU", the medians of RUNS timings after
# one warm-up; PREPARE runs untimed before each (clearing an output folder).
measure() {
  local prepare=$1; shift
  local walls=() cpus=() pair
  eval "$prepare"; timed "$@" >/dev/null
  for _ in $(seq "$runs"); do
    eval "$prepare"
    pair=$(timed "$@")
    walls+=("${pair% *}")
    cpus+=("${pair#* }")
  done
  echo "$(median "${walls[@]}") $(median "${cpus[@]}")"
}
report() { # NAME "WALL CPU" "FLOOR_WALL FLOOR_CPU" TARGET
  local wall=${2% *} cpu=${2#* } floor=${3% *} floor_cpu=${3#* } ratio cpu_ratio
  ratio=$(echo "$wall / $floor" | bc -l)
  cpu_ratio=$(echo "$cpu / ($floor_cpu + 0.001)" | bc -l)
  printf '%-44s %7.3f s  floor %7.3f s  ratio %5.2f  (CPU %6.2f s / %6.2f s = %5.2f)  target <= %s %s\n' \
    "$1" "$wall" "$floor" "$ratio" "$cpu" "$floor_cpu" "$cpu_ratio" "$4" \
    "$(echo "$ratio <= $4" | bc -l | sed 's/1/ok/; s/0/OVER/')"
}

cache() { "$qvork" config --cache "$work/sites/$1" >/dev/null; }
zcat_all() {
  for f in "$work/sites/gzip/plain/"*.gz; do zcat "$f" >"$work/out/$(basename "$f" .gz)"; done
}
export -f zcat_all
export work

cache many
plain=$(measure : "$qvork" ls -R many.test)
long=$(measure : "$qvork" ls -lR many.test)
report "(f) ls -lR / ls -R, 65533 records" "$long" "$plain" 10

cache gzip
floor=$(measure 'rm -rf "$work/out"; mkdir -p "$work/out"' bash -c zcat_all)
decode=$(measure 'rm -rf "$work/out"' "$qvork" get --decode gzip.test -C "$work/out")
report "(g) get --decode / zcat, $total_mb MB of gzip" "$decode" "$floor" 1.5
rm -rf "$work/out"

# (h) takes turns, each run into a folder of its own, removed only at the end:
# on ext4 files created soon after others were deleted cost more the more were
# deleted (the allocator steps over recently freed inodes), which would burden
# whichever command ran later.
cache pages
mkdir -p "$work/out"
timed "$qvork" get pages.test -C "$work/out/warm-copy" >/dev/null
timed "$qvork" get --offline pages.test -C "$work/out/warm-offline" >/dev/null
copies=() offlines=()
for run in $(seq "$runs"); do
  copies+=("$(timed "$qvork" get pages.test -C "$work/out/copy-$run")")
  offlines+=("$(timed "$qvork" get --offline pages.test -C "$work/out/offline-$run")")
done
# medians PAIR...: "WALL CPU", each the median of its column.
medians() { echo "$(median "${@% *}") $(median "${@#* }")"; }
report "(h) get --offline / get, 1000 pages" "$(medians "${offlines[@]}")" "$(medians "${copies[@]}")" 2
rm -rf "$work/out"
