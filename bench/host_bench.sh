#!/usr/bin/env bash
# The console host's benchmarks, each a ratio to a floor measured in the same
# run (median of RUNS timed runs after one warm-up):
#   (e) qvork ls -lR of a 65533-record site / qvork ls -R of it   (target <= 10)
#   (f) qvork get --decode of TOTAL_MB MB of gzip bodies
#       / zcat of the same bodies into files                        (target <= 1.5)
#   (g) qvork get --offline of 1000 pages / qvork get of them       (target <= 2)
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
# timed COMMAND...: its wall time in seconds, output discarded.
timed() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "host_bench: failed: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
# measure NAME PREPARE COMMAND...: the median of RUNS timings; PREPARE runs
# untimed before each (clearing an output folder).
measure() {
  local prepare=$1; shift
  local times=()
  eval "$prepare"; timed "$@" >/dev/null
  for _ in $(seq "$runs"); do
    eval "$prepare"
    times+=("$(timed "$@")")
  done
  median "${times[@]}"
}
report() { # NAME FIGURE FLOOR TARGET
  local ratio
  ratio=$(echo "$2 / $3" | bc -l)
  printf '%-46s %8.3f s  floor %8.3f s  ratio %6.2f  (target <= %s) %s\n' "$1" "$2" "$3" "$ratio" "$4" \
    "$(echo "$ratio <= $4" | bc -l | sed 's/1/ok/; s/0/OVER/')"
}

cache() { "$qvork" config --cache "$work/sites/$1" >/dev/null; }
zcat_all() { for f in "$work/sites/gzip/plain/"*.gz; do zcat "$f" >"$work/out/$(basename "$f" .gz)"; done; }

cache many
plain=$(measure : "$qvork" ls -R many.test)
long=$(measure : "$qvork" ls -lR many.test)
report "(e) ls -lR / ls -R, 65533 records" "$long" "$plain" 10

cache gzip
floor=$(measure 'rm -rf "$work/out"; mkdir -p "$work/out"' zcat_all)
decode=$(measure 'rm -rf "$work/out"' "$qvork" get --decode gzip.test -C "$work/out")
report "(f) get --decode / zcat, $total_mb MB of gzip" "$decode" "$floor" 1.5
rm -rf "$work/out"

cache pages
copy=$(measure 'rm -rf "$work/out"' "$qvork" get pages.test -C "$work/out")
offline=$(measure 'rm -rf "$work/out"' "$qvork" get --offline pages.test -C "$work/out")
report "(g) get --offline / get, 1000 pages" "$offline" "$copy" 2
rm -rf "$work/out"
