#!/usr/bin/env bash
# Smoke run of the libFuzzer targets: builds them with clang (AddressSanitizer,
# UndefinedBehaviorSanitizer), writes the seed corpora with make_seeds, and
# runs each target for a short while over a copy of its seeds and its
# regression inputs (fuzz/regressions/TARGET/), with its dictionary. Fails
# if any target finds a crash, a leak, a timeout or runs out of memory.
# Usage: scripts/fuzz-smoke.sh [TARGET...]   (default: all four)
# Env: QVORK_FUZZ_SECONDS  seconds per target (default 45)
#      QVORK_FUZZ_BUILD    build folder (default build/fuzz in the tree)
# Nothing is written into the tree outside the build folder; the corpora
# live in a temporary folder, kept only when a target fails.
set -eu -o pipefail

source "$(dirname "$0")/fuzz-common.sh"
seconds=${QVORK_FUZZ_SECONDS:-45}
case "$seconds" in ''|*[!0-9]*) echo "fuzz-smoke: QVORK_FUZZ_SECONDS must be a number" >&2; exit 2 ;; esac
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${fuzz_all_targets[@]}")
for target in "${targets[@]}"; do fuzz_kind "$target" >/dev/null || exit 2; done

fuzz_require_clang || exit 1
echo "== fuzz: building the targets in $fuzz_build"
fuzz_build_targets

work=$(mktemp -d "${TMPDIR:-/tmp}/qvork-fuzz-smoke.XXXXXX")
QVORK_FUZZ_TMP=$(fuzz_make_tmp)
export QVORK_FUZZ_TMP
trap 'rm -rf "$QVORK_FUZZ_TMP"' EXIT
"$fuzz_build/make_seeds" "$work/seeds" >/dev/null

failed=0
echo "== fuzz: ${seconds}s per target"
for target in "${targets[@]}"; do
  dir=$work/$target
  fuzz_fill_corpus "$target" "$dir/corpus" "$work/seeds"
  mkdir -p "$dir/artifacts"
  seeds=$(find "$dir/corpus" -type f | wc -l)
  # shellcheck disable=SC2046
  set +e
  (cd "$dir" && "$fuzz_build/$target" $(fuzz_options "$target") -max_total_time="$seconds" \
     -artifact_prefix="$dir/artifacts/" corpus) >"$dir/log" 2>&1
  status=$?
  set -e
  read -r execs cov ft corp _ _ _ < <(fuzz_figures "$dir/log")
  findings=$(fuzz_findings "$dir/artifacts")
  count=$(printf '%s' "$findings" | grep -c . || true)
  if [ "$status" -ne 0 ] && [ "$count" -eq 0 ]; then count=1; findings="(exit status $status, see the log)"; fi
  printf '%-18s %9s executions  corpus %4s (from %s seeds)  cov %s ft %s  %s finding(s)\n' \
    "$target" "$execs" "$corp" "$seeds" "$cov" "$ft" "$count"
  if [ "$count" -ne 0 ]; then
    failed=1
    printf '%s\n' "$findings" | sed 's/^/    /'
    echo "    log: $dir/log"
    grep -m1 -E '^(==[0-9]+==ERROR|SUMMARY|qvork fuzz:)' "$dir/log" | sed 's/^/    /' || true
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "fuzz-smoke: FAILED (corpora, artifacts and logs kept in $work)"
  exit 1
fi
rm -rf "$work"
echo "fuzz-smoke: all targets ran clean"
