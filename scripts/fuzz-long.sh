#!/usr/bin/env bash
# Long fuzzing runs: each target runs for SECONDS under libFuzzer's -fork=1
# (a crash, leak, timeout or out-of-memory is saved and the run goes on),
# two targets at a time (the machine has 2 cores; QVORK_FUZZ_PARALLEL to
# change). Corpora and artifacts persist in the work folder, so a later run
# goes on from where the last one stopped; new seeds and regression inputs
# are added each time. The figures (executions, corpus size, cov and ft from
# the last status line, libFuzzer's counts of crashes, timeouts and
# out-of-memory, the artifacts saved with their paths) are appended to
# the results file as a dated section and printed.
# Usage: scripts/fuzz-long.sh SECONDS [TARGET...]   (default: all four)
# Env: QVORK_FUZZ_WORK      work folder (default /work/fuzz-work)
#      QVORK_FUZZ_RESULTS   results file (default WORK/RESULTS.md)
#      QVORK_FUZZ_BUILD     build folder (default build/fuzz in the tree)
#      QVORK_FUZZ_PARALLEL  targets run at once (default 2)
# Work folder layout: WORK/TARGET/{corpus,artifacts}/, WORK/TARGET/log-STAMP.txt
set -eu -o pipefail

source "$(dirname "$0")/fuzz-common.sh"
if [ $# -lt 1 ] || [[ ! "$1" =~ ^[0-9]+$ ]]; then
  sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${fuzz_all_targets[@]}")
for target in "${targets[@]}"; do fuzz_kind "$target" >/dev/null || exit 2; done
work=${QVORK_FUZZ_WORK:-/work/fuzz-work}
results=${QVORK_FUZZ_RESULTS:-$work/RESULTS.md}
parallel=${QVORK_FUZZ_PARALLEL:-2}
stamp=$(date -u +%Y%m%dT%H%M%SZ)

fuzz_require_clang || exit 1
# The tree as built now, before the runs (others may commit meanwhile).
commit=$(git -C "$fuzz_root" rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ -n "$(git -C "$fuzz_root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  commit="$commit + local changes"
fi
echo "== fuzz: building the targets in $fuzz_build"
fuzz_build_targets
mkdir -p "$work"
QVORK_FUZZ_TMP=$(fuzz_make_tmp)
export QVORK_FUZZ_TMP
trap 'rm -rf "$QVORK_FUZZ_TMP"' EXIT
rm -rf "$work/seeds"
"$fuzz_build/make_seeds" "$work/seeds" >/dev/null

run_target() {
  local target=$1 dir=$work/$1
  fuzz_fill_corpus "$target" "$dir/corpus" "$work/seeds"
  mkdir -p "$dir/artifacts"
  # shellcheck disable=SC2046
  (cd "$dir" && "$fuzz_build/$target" $(fuzz_options "$target") -fork=1 -ignore_crashes=1 \
     -ignore_timeouts=1 -ignore_ooms=1 -max_total_time="$seconds" \
     -artifact_prefix="$dir/artifacts/" corpus) >"$dir/log-$stamp.txt" 2>&1 || true
}

echo "== fuzz: ${seconds}s per target, $parallel at a time, in $work"
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  # Findings of earlier runs are told apart from this run's by name.
  fuzz_findings "$work/$target/artifacts" >"$work/$target.before" 2>/dev/null || true
  run_target "$target" &
  running=$((running + 1))
done
wait

{
  echo
  echo "## $stamp: ${seconds}s per target (commit $commit)"
  echo
  echo "| target | executions | corpus | cov | ft | crashes/timeouts/ooms | new artifacts |"
  echo "|---|---|---|---|---|---|---|"
  for target in "${targets[@]}"; do
    dir=$work/$target
    read -r execs cov ft corp ooms timeouts crashes < <(fuzz_figures "$dir/log-$stamp.txt")
    new=$(fuzz_findings "$dir/artifacts" | comm -13 "$work/$target.before" - || true)
    count=$(printf '%s' "$new" | grep -c . || true)
    echo "| $target | $execs | $corp | $cov | $ft | $crashes/$timeouts/$ooms | $count |"
  done
  for target in "${targets[@]}"; do
    dir=$work/$target
    new=$(fuzz_findings "$dir/artifacts" | comm -13 "$work/$target.before" - || true)
    [ -n "$new" ] || continue
    echo
    echo "$target findings:"
    printf '%s\n' "$new" | sed 's/^/- /'
  done
  echo
  echo "Logs: $work/TARGET/log-$stamp.txt"
} >"$work/section-$stamp.md"
for target in "${targets[@]}"; do rm -f "$work/$target.before"; done
[ -f "$results" ] || printf '# qVORK fuzzing results\n' >"$results"
cat "$work/section-$stamp.md" >>"$results"
cat "$work/section-$stamp.md"
rm -f "$work/section-$stamp.md"
echo
echo "fuzz-long: figures appended to $results"
