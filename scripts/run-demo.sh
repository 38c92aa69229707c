#!/usr/bin/env bash
# Builds what the demo needs (the plug-in qvork.so, the console host qvork and
# the demo writer make_demo), writes the demo cache into BUILD/demo and opens
# qvork's panel on it when standard input and output are a terminal (F10 or
# q quits); otherwise it prints the demo's cache root. The demo uses a
# registry file of its own, BUILD/demo/registry.reg, so the user's own
# settings are never touched. Missing tools are installed first
# (scripts/install-deps.sh: as root, or through sudo).
#
# Usage: scripts/run-demo.sh [BUILD_DIR]     (default: build/ in the repository)
# Afterwards, try the same registry with other commands, e.g.:
#   BUILD/qvork --registry BUILD/demo/registry.reg ls 'www.example.com'
set -eu -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
case "${1:-}" in
  -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
build=${1:-$root/build}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac

# What the build needs: the tools, the ncurses headers of the panel and
# GoogleTest (the build includes the tests unless told otherwise).
have_header() {
  command -v g++ >/dev/null && printf '#include <%s>\n' "$1" | g++ -fsyntax-only -x c++ - 2>/dev/null
}
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null ||
   ! have_header curses.h || ! have_header gtest/gtest.h || ! have_header CLI/CLI.hpp ||
   ! have_header nlohmann/json.hpp || ! have_header gumbo.h || ! have_header brotli/decode.h ||
   ! have_header zlib.h; then
  "$here/install-deps.sh"
fi
generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then
  generator=(-G Ninja)
fi
echo "run-demo: building qvork, qvork.so and make_demo in $build" >&2
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S "$root" -B "$build" "${generator[@]}" &&
       cmake --build "$build" --target qvork qvork_plugin make_demo -j 2; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "run-demo: the build failed" >&2
  exit 1
fi

# Where the build put the programs (qvork lies beside qvork.so).
find_program() {
  find "$build" -name "$1" -type f -perm -u+x -not -path '*/CMakeFiles/*' | head -n 1
}
qvork=$(find_program qvork)
make_demo=$(find_program make_demo)
if [ -z "$qvork" ] || [ -z "$make_demo" ]; then
  echo "run-demo: the build did not produce qvork and make_demo" >&2
  exit 1
fi

demo=$build/demo
mkdir -p "$demo"
if ! "$make_demo" "$demo" >"$log" 2>&1; then
  cat "$log" >&2
  echo "run-demo: make_demo could not write the demo cache" >&2
  exit 1
fi
registry=$demo/registry.reg
"$qvork" --registry "$registry" config --cache "$demo" >/dev/null 2>&1
if [ -t 0 ] && [ -t 1 ]; then
  exec "$qvork" --registry "$registry" panel
fi
echo "run-demo: standard output is not a terminal; the demo's cache root:" >&2
"$qvork" --registry "$registry" ls
