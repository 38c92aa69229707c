#!/usr/bin/env bash
# Runs the Windows build of the test suite under Wine, against qVORK.dll.
#  1. installs what is missing (scripts/windows-install.sh; needs root then);
#  2. cross-builds qVORK.dll and the test programs (scripts/windows-build.sh
#     --tests), which also checks the DLL's export and import tables;
#  3. makes a throw-away Wine prefix (nothing of the user's own Wine is
#     touched), boots it once and keeps one wineserver for the whole run, so
#     Wine's start-up is paid once and not per test program;
#  4. runs every test program of the Windows build with QVORK_MODULE naming
#     the DLL (each integration test loads it with LoadLibraryA and frees it
#     after), and fails if any test fails.
# Usage: scripts/windows-tests.sh [BUILD_DIR]   (default: build-win beside
# the source tree, or $QVORK_WIN_BUILD_DIR). QVORK_KEEP_WINEPREFIX=1 keeps the
# prefix for a look afterwards. Ends with the line "wine: N passed, N failed"
# (", N skipped" follows when GoogleTest skipped any).
set -eu -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build_dir=${1:-${QVORK_WIN_BUILD_DIR:-"$source_dir/../build-win"}}
per_program_timeout=${QVORK_WINE_TEST_TIMEOUT:-300}

seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(seconds)" 'BEGIN { printf "%.1f", b - a }'; }
run_start=$(seconds)

"$here/windows-install.sh"

step=$(seconds)
"$here/windows-build.sh" --tests "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
build_time=$(elapsed "$step")

dll="$build_dir/qVORK.dll"
mapfile -t programs < <(find "$build_dir/tests" -name '*.exe' -type f 2>/dev/null | sort)
if [ ${#programs[@]} -eq 0 ]; then
  echo "windows-tests: no test programs under $build_dir/tests" >&2
  exit 1
fi

# The Wine prefix of this run, and Wine quiet: no debug channels, no offer to
# install Mono or Gecko (nothing here needs .NET or HTML).
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/qvork-wine.XXXXXX")
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  if [ "${QVORK_KEEP_WINEPREFIX:-0}" = 1 ]; then
    echo "windows-tests: Wine prefix kept in $WINEPREFIX"
  else
    rm -rf "$WINEPREFIX"
  fi
}
trap cleanup EXIT

step=$(seconds)
# One persistent wineserver for the run (started before anything else
# can start one of its own), then the prefix is made once.
wineserver -p
wineboot -i >/dev/null 2>&1
wine_start_time=$(elapsed "$step")

QVORK_MODULE=$(winepath -w "$dll" 2>/dev/null)
export QVORK_MODULE
echo "windows-tests: $(basename "$dll") as $QVORK_MODULE, Wine prefix $WINEPREFIX"

step=$(seconds)
passed=0
failed=0
skipped=0
broken=()
log=$(mktemp "${TMPDIR:-/tmp}/qvork-wine-log.XXXXXX")
for program in "${programs[@]}"; do
  name=${program#"$build_dir/"}
  status=0
  (cd "$(dirname "$program")" &&
     timeout "$per_program_timeout" wine "$program" --gtest_brief=1 --gtest_color=no) \
     >"$log" 2>&1 || status=$?
  ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | tail -n 1)
  bad=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$log" | tail -n 1)
  skip=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${ok:-0}))
  failed=$((failed + ${bad:-0}))
  skipped=$((skipped + ${skip:-0}))
  if [ "$status" -ne 0 ] || [ -z "$ok" ]; then
    broken+=("$name")
    echo "---- $name: exit status $status"
    cat "$log"
    echo "----"
    # A program that died before its summary counts as one failure at least.
    [ -n "$bad" ] || failed=$((failed + 1))
  else
    echo "windows-tests: $name: ${ok} passed${skip:+, $skip skipped}"
    # Say which tests were skipped here, and why (GoogleTest prints it).
    grep -A1 '^\[  SKIPPED \] [A-Za-z]' "$log" | grep -v '^--$' | sed 's/^/  /' || true
  fi
done
rm -f "$log"
test_time=$(elapsed "$step")

echo "windows-tests: times: build ${build_time} s, Wine start ${wine_start_time} s," \
     "tests ${test_time} s, whole run $(elapsed "$run_start") s"
if [ ${#broken[@]} -ne 0 ]; then
  echo "windows-tests: FAILED under Wine: ${broken[*]}"
fi
if [ "$skipped" -ne 0 ]; then
  echo "wine: $passed passed, $failed failed, $skipped skipped"
else
  echo "wine: $passed passed, $failed failed"
fi
[ ${#broken[@]} -eq 0 ]
