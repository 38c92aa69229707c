#!/usr/bin/env bash
# Parity of our Linux layer with Win32: one cache folder, whose names probe
# the folder search's wildcard rules (cache12, cache12.tmp, CACHE7, cache,
# cache.1, a folder cachedir, ...), is listed and copied out by the Linux
# build (qvork.so over platform/linux) and by qVORK.dll under Wine (the real
# Win32 functions), through the same small driver program
# (scripts/windows-parity-dump.cpp, built for both). The root listings and the
# copied trees (names, sizes, contents) must be the same.
# Usage: scripts/windows-parity.sh
#   QVORK_WIN_BUILD_DIR     the Windows build (default: build-win beside the source tree)
#   QVORK_PARITY_LINUX_DIR  the Linux build of qvork.so (default: build-win-parity)
#   QVORK_KEEP_PARITY=1     keep the work folder (cache, both trees, both outputs)
# Exit 0 when both sides agree, 1 with the differences shown otherwise.
set -eu -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
win_build=${QVORK_WIN_BUILD_DIR:-"$source_dir/../build-win"}
linux_build=${QVORK_PARITY_LINUX_DIR:-"$source_dir/../build-win-parity"}

"$here/windows-install.sh"
"$here/windows-build.sh" "$win_build" >/dev/null
win_build=$(cd "$win_build" && pwd)

cmake -S "$source_dir" -B "$linux_build" -DCMAKE_BUILD_TYPE=Release -DQVORK_TESTS=OFF >/dev/null
cmake --build "$linux_build" -j2 --target qvork_plugin >/dev/null
linux_build=$(cd "$linux_build" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/qvork-parity.XXXXXX")
WINEPREFIX="$work/wineprefix"
mkdir -p "$WINEPREFIX"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  if [ "${QVORK_KEEP_PARITY:-0}" = 1 ]; then
    echo "windows-parity: work folder kept in $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

driver_sources=("$here/windows-parity-dump.cpp"
                "$source_dir/tests/support/site_writer.cpp"
                "$source_dir/tests/support/plugin_loader.cpp")
driver_flags=(-std=c++17 -O1 -Wall -Wextra -Werror -I"$source_dir" -I"$source_dir/tests/support"
              '-DQVORK_MODULE_PATH=""')
g++ "${driver_flags[@]}" "${driver_sources[@]}" -ldl -o "$work/parity-dump"
i686-w64-mingw32-g++-posix "${driver_flags[@]}" "${driver_sources[@]}" \
  -static -static-libgcc -static-libstdc++ -o "$work/parity-dump.exe"

"$work/parity-dump" make "$work/cache"
mkdir -p "$work/out-linux" "$work/out-wine"

"$work/parity-dump" run "$linux_build/qvork.so" "$work/cache" "$work/out-linux" \
  "$work/registry.reg" >"$work/linux.txt" 2>"$work/linux.err"

# One persistent wineserver for the run (started before anything else
# can start one of its own), then the prefix is made once.
wineserver -p
wineboot -i >/dev/null 2>&1
(cd "$work" && wine "$work/parity-dump.exe" run "$(winepath -w "$win_build/qVORK.dll")" \
  "$(winepath -w "$work/cache")" "$(winepath -w "$work/out-wine")") \
  >"$work/wine.txt" 2>"$work/wine.err"
sed -i 's/\r$//' "$work/wine.txt" "$work/wine.err"

# What each side made: the listing in a fixed order (the order of the folder
# search itself is compared apart), the copy results, and the copied tree.
summarise() { # side
  local side=$1
  {
    grep -v '^item' "$work/$side.txt" | grep -v '^copy' || true
    # Short (8.3) names are left out: Win32 gives none where the volume makes
    # none, as our layer does; Wine makes its own kind for some names.
    grep '^item' "$work/$side.txt" | sed 's/\tshort=[^\t]*//' | sort || true
    grep '^copy' "$work/$side.txt" | sort || true
    (cd "$work/out-$side" && find . -mindepth 1 -printf 'tree\t%y\t%s\t%P\n' | sort)
    (cd "$work/out-$side" && find . -type f -print0 | sort -z | xargs -0 -r md5sum |
       sed 's/^/md5\t/')
  } >"$work/$side.summary"
}
summarise linux
summarise wine

status=0
echo "windows-parity: Linux said:"
sed 's/^/  /' "$work/linux.txt"
if ! diff -u --label linux --label wine "$work/linux.summary" "$work/wine.summary" \
     >"$work/diff.txt"; then
  status=1
  echo "windows-parity: the Linux build and the DLL under Wine differ:"
  cat "$work/diff.txt"
fi
if ! diff -q <(grep '^item' "$work/linux.txt" | cut -f2) \
             <(grep '^item' "$work/wine.txt" | cut -f2) >/dev/null; then
  echo "windows-parity: note: the folder search returns the entries in another order" \
       "(Linux: $(grep '^item' "$work/linux.txt" | cut -f2 | paste -sd' ');" \
       "Wine: $(grep '^item' "$work/wine.txt" | cut -f2 | paste -sd' '))"
fi
short_names=$(grep '^item' "$work/wine.txt" | awk -F'\t' '$8 != "short=" { print $2 " " $8 }' |
              paste -sd',' || true)
if [ -n "$short_names" ]; then
  echo "windows-parity: note: Wine gives short names ($short_names); our layer gives none"
fi
for side in linux wine; do
  if [ -s "$work/$side.err" ]; then
    echo "windows-parity: $side, messages:"
    sed 's/^/  /' "$work/$side.err"
  fi
done
if [ "$status" -eq 0 ]; then
  echo "windows-parity: the Linux build and the DLL under Wine agree" \
       "($(grep -c '^item' "$work/linux.txt") root items," \
       "$(grep -c '^tree' "$work/linux.summary") copied entries)"
fi
exit "$status"
