#!/usr/bin/env bash
# The benchmarks: builds qvork.so and bench/qvork_bench (Release, -O2, no
# sanitizers) and runs them. One run writes its own test sites into a
# temporary folder, prints every figure next to its floor as a ratio against
# the targets, and removes the folder again.
# Usage: scripts/bench.sh [--build-dir DIR] [--callgrind | --wine] [options]
#   --build-dir DIR  build folder (default: build/bench in the tree)
#   --callgrind      instead of timing, count instructions with valgrind's
#                    callgrind on the plug-in's load, copy and root-listing
#                    paths and print the costliest functions of each
#   --host-only      only the console host's benchmarks (bench/host_bench.sh:
#                    ls -lR, get --decode, get --offline), which otherwise
#                    run after qvork_bench
#   --wine           instead, cross-build qVORK.dll and qvork_wine_bench.exe
#                    (mingw-w64, in DIR-win) and run the load, copy and root
#                    benchmarks under Wine, in a throw-away prefix, against
#                    Win32 floors (options then: --runs N, --only abc)
# qvork_bench options: --runs N, --only abcde, --quick, --keep (see --help).
# The work folder goes under $QVORK_BENCH_WORK, else $TMPDIR, else /tmp; it
# needs about 700 MB while the copy benchmark runs.
set -eu -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build="$root/build/bench"
callgrind=0
host_only=0
wine=0
pass=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --callgrind) callgrind=1; shift ;;
    --host-only) host_only=1; shift ;;
    --wine) wine=1; shift ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) pass+=("$1"); shift ;;
  esac
done

for tool in cmake ninja c++; do
  command -v "$tool" >/dev/null || { echo "bench.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
done

echo "== Release build in $build"
cmake -S "$root/bench" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cmake --build "$build" -j 2 --target qvork_bench qvork make_host_bench_sites

work_root=${QVORK_BENCH_WORK:-${TMPDIR:-/tmp}}
mkdir -p "$work_root"
work=$(mktemp -d "$work_root/qvork-bench-run.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ "$wine" = 1 ]; then
  for tool in i686-w64-mingw32-g++-posix wine wineserver winepath; do
    command -v "$tool" >/dev/null || { echo "bench.sh: $tool is missing (scripts/windows-install.sh installs it)" >&2; exit 2; }
  done
  win_build="$build-win"
  echo "== Windows cross-build (Release, -O2) in $win_build"
  cmake -S "$root/bench" -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
  cmake --build "$win_build" -j 2 --target qvork_wine_bench qvork_plugin
  dll=$(find "$win_build" -name qVORK.dll -type f | head -n 1)
  prepared=$("$build/qvork_bench" --prepare-only --work-root "$work" | sed -n 's/^prepared: //p')
  # A prefix of the run's own, one wineserver for all of it.
  WINEPREFIX="$work/wineprefix"
  export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  mkdir -p "$WINEPREFIX"
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  wineserver -p
  wineboot -i >/dev/null 2>&1
  echo "load average before the Wine run: $(cut -d' ' -f1-3 /proc/loadavg)"
  status=0
  wine "$win_build/qvork_wine_bench.exe" --module "$(winepath -w "$dll")" \
    --work "$(winepath -w "$prepared")" ${pass[@]+"${pass[@]}"} || status=$?
  echo "load average after the Wine run: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit $status
fi

if [ "$callgrind" = 0 ]; then
  status=0
  if [ "$host_only" = 0 ]; then
    "$build/qvork_bench" --work-root "$work" ${pass[@]+"${pass[@]}"} || status=$?
  fi
  qvork=$(find "$build" -name qvork -type f -perm -u+x -not -path '*/CMakeFiles/*' | head -n 1)
  bash "$root/bench/host_bench.sh" "$qvork" "$build/make_host_bench_sites" "$work" || status=$?
  exit $status
fi

command -v valgrind >/dev/null || { echo "bench.sh: valgrind is missing" >&2; exit 2; }
prepared=$("$build/qvork_bench" --prepare-only --work-root "$work" ${pass[@]+"${pass[@]}"} | sed -n 's/^prepared: //p')
# Each operation once, counting only inside the entry points it calls.
profile() {
  local op=$1; shift
  local out="$work/callgrind.$op"
  local toggles=()
  for entry in "$@"; do toggles+=("--toggle-collect=$entry"); done
  valgrind --tool=callgrind --callgrind-out-file="$out" "${toggles[@]}" \
    "$build/qvork_bench" --profile "$op" --work "$prepared" >/dev/null 2>"$out.log" ||
    { cat "$out.log" >&2; return 1; }
  echo
  echo "== $op: instructions inside $*, by function (self cost)"
  callgrind_annotate --inclusive=no "$out" | sed -n '/^Ir/,$p' | sed -n '3,22p'
}
profile load-deep SetDirectory GetFindData
profile load-wide SetDirectory GetFindData
profile copy-root GetFiles
profile root OpenPlugin GetFindData
