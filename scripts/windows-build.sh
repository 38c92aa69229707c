#!/usr/bin/env bash
# Cross-builds qVORK.dll (32-bit Windows, mingw-w64, Release) and checks its
# export and import tables (scripts/windows-check-dll.sh).
# Usage: scripts/windows-build.sh [--tests] [--dist] [BUILD_DIR]
#   --tests   also build the Windows test programs (GoogleTest cross-built)
#   --dist    also build qVORK-<version>-win32.zip
#   BUILD_DIR defaults to build-win beside the source tree ($QVORK_WIN_BUILD_DIR
#             overrides it).
# The DLL lands in BUILD_DIR/qVORK.dll.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build_tests=OFF
targets=(qvork_plugin)
build_dir=${QVORK_WIN_BUILD_DIR:-"$source_dir/../build-win"}

for arg in "$@"; do
  case "$arg" in
    --tests) build_tests=ON ;;
    --dist) targets+=(dist) ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "windows-build: unknown option $arg" >&2; exit 2 ;;
    *) build_dir=$arg ;;
  esac
done

if ! command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "windows-build: no mingw-w64 cross compiler; run scripts/windows-install.sh as root" >&2
  exit 1
fi

mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)

# A build folder configured from another checkout cannot be reused as it is.
cache="$build_dir/CMakeCache.txt"
if [ -f "$cache" ] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$source_dir" "$cache"; then
  echo "windows-build: $build_dir was configured for another source tree; configuring afresh"
  rm -rf "$cache" "$build_dir/CMakeFiles"
fi

start=$(date +%s)
cmake -S "$source_dir" -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DQVORK_TESTS="$build_tests" >/dev/null
if [ "$build_tests" = ON ]; then
  cmake --build "$build_dir" -j2
fi
cmake --build "$build_dir" -j2 --target "${targets[@]}"
echo "windows-build: built in $(( $(date +%s) - start )) s: $build_dir/qVORK.dll"

"$here/windows-check-dll.sh" "$build_dir/qVORK.dll"
