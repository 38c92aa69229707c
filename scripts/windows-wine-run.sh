#!/usr/bin/env bash
# Runs one Windows program under Wine in qVORK's own Wine prefix, never the
# user's: $QVORK_WINEPREFIX, else ~/.cache/qvork/wineprefix (made on first
# use). The toolchain file names this script as the cross-compiling
# emulator, so ctest in a Windows build folder lists and runs the test
# programs through it. scripts/windows-tests.sh does not use it: it makes a
# throw-away prefix per run.
# Usage: scripts/windows-wine-run.sh PROGRAM.exe [ARGUMENTS...]
set -eu

WINEPREFIX=${QVORK_WINEPREFIX:-"${XDG_CACHE_HOME:-$HOME/.cache}/qvork/wineprefix"}
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

if ! command -v wine >/dev/null 2>&1; then
  echo "windows-wine-run: no Wine here; run scripts/windows-install.sh as root" >&2
  exit 1
fi

# The prefix holds one registry, which the tests write ("CachePath" under
# HKEY_LOCAL_MACHINE), so programs run one at a time even under ctest -j:
# each holds the prefix's lock while it runs. The first one makes the prefix.
mkdir -p "$WINEPREFIX"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
fi
wine "$@"
