#!/usr/bin/env bash
# The whole test run, from a fresh machine: installs what is missing, builds
# the Linux plug-in, host and tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them with CTest (unit, integration,
# platform, command-line and tmux panel tests), cross-builds qVORK.dll and
# runs the same tests against it under Wine, checks that the Linux layer and
# Win32 agree on one cache (parity), runs a full scenario under valgrind and
# gives each fuzz target a short smoke run.
# Usage: scripts/test.sh [--linux-only]
# Build folders: build/asan, build/win, build/parity, build/plain and
# build/fuzz, inside the tree.
set -eu -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
linux_only=0
for arg in "$@"; do
  case "$arg" in
    --linux-only) linux_only=1 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

jobs=$(nproc 2>/dev/null || echo 2)
start=$(date +%s)
passed=0
failed=0
status=0 # non-zero once anything failed, whatever the counts say

"$here/install-deps.sh"
[ "$linux_only" = 1 ] || "$here/windows-install.sh"

echo "== Linux build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S "$root" -B "$root/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQVORK_SANITIZE=ON >/dev/null
cmake --build "$root/build/asan" -j "$jobs"

echo "== Linux tests"
# intercept_tls_get_addr=0: GCC 12's LeakSanitizer can misread a dlopened
# module's dynamic TLS at exit and crash after the tests passed.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_odr_violation=0:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
log=$(mktemp)
set +e
ctest --test-dir "$root/build/asan" -j "$jobs" --output-on-failure 2>&1 | tee "$log"
ctest_status=${PIPESTATUS[0]}
set -e
line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
if [ -n "$line" ]; then
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
fi
[ "$ctest_status" -eq 0 ] || status=1
rm -f "$log"

# A stage that passes or fails as a whole.
stage() {
  local name=$1
  shift
  echo "== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "== $name: FAILED"
    failed=$((failed + 1))
    status=1
  fi
}

if [ "$linux_only" = 0 ]; then
  echo "== Windows: qVORK.dll and the tests under Wine"
  log=$(mktemp)
  set +e
  "$here/windows-tests.sh" "$root/build/win" 2>&1 | tee "$log"
  wine_status=${PIPESTATUS[0]}
  set -e
  line=$(grep -E '^wine: [0-9]+ passed, [0-9]+ failed' "$log" | tail -1 || true)
  if [ -n "$line" ]; then
    passed=$((passed + $(sed -E 's/^wine: ([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.*passed, ([0-9]+) failed.*/\1/' <<<"$line")))
  fi
  [ "$wine_status" -eq 0 ] || status=1
  rm -f "$log"

  stage "parity of the Linux layer with Win32 (Wine)" \
    env QVORK_WIN_BUILD_DIR="$root/build/win" QVORK_PARITY_LINUX_DIR="$root/build/parity" \
    "$here/windows-parity.sh"
fi

if [ -x "$here/valgrind-scenario.sh" ]; then
  stage "valgrind: a full scenario without errors or leaks" "$here/valgrind-scenario.sh"
fi

stage "fuzz smoke runs" env QVORK_FUZZ_BUILD="$root/build/fuzz" "$here/fuzz-smoke.sh"

echo "== took $(( $(date +%s) - start )) s"
[ "$status" -eq 0 ] || [ "$failed" -gt 0 ] || failed=1
echo "all: $passed passed, $failed failed"
[ "$status" -eq 0 ]
