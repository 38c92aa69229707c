#!/usr/bin/env bash
# Runs the plug-in's whole life in one process (tests/faults/scenario.cpp:
# list, enter, walk, Shift+F3, copies that work and copies that fail, delete,
# re-read, settings, a second panel, close, unload) under valgrind memcheck,
# in a build without sanitizers. Fails on any memory error and on any
# definitely or indirectly lost block. Configures and builds what it needs.
# Usage: scripts/valgrind-scenario.sh [BUILD_DIR]   (default: build/plain)
set -eu -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/plain}
case "$build" in
  -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac

command -v valgrind >/dev/null || "$here/install-deps.sh"

echo "== valgrind scenario: plain build in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQVORK_SANITIZE=OFF >/dev/null
cmake --build "$build" -j 2 --target qvork_plugin qvork_scenario

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
         --show-leak-kinds=definite,indirect --track-origins=yes --log-file="$log" \
         "$build/tests/faults/qvork_scenario" || status=$?
summary=$(grep -E 'ERROR SUMMARY' "$log" | tail -1 | sed 's/^==[0-9]*== //')
if grep -qE 'ERROR SUMMARY: [1-9]' "$log"; then
  cat "$log"
  echo "valgrind scenario: memory errors or leaks: $summary"
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "valgrind scenario: the scenario failed (status $status)"
  exit 1
fi
echo "valgrind scenario: no errors, no leaks ($summary)"
