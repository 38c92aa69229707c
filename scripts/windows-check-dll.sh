#!/usr/bin/env bash
# Checks qVORK.dll the way the file manager will meet it: the export table
# must hold exactly the fourteen entry points, by their undecorated names
# (no "@N" suffix, no leading underscore), and the DLL may import only the
# system DLLs KERNEL32, ADVAPI32 and msvcrt (any letter case), so it loads
# on a bare Windows with no runtime DLLs beside it, and none of their
# functions newer than Windows XP.
# Usage: scripts/windows-check-dll.sh [path/to/qVORK.dll]   (default: build-win)
# Exit 0 when both hold; 1 with every difference listed; 2 on a usage error.
set -u

here=$(cd "$(dirname "$0")" && pwd)
dll=${1:-"$here/../../build-win/qVORK.dll"}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

expected_exports="SetStartupInfo GetMinFarVersion GetPluginInfo Configure OpenPlugin
ClosePlugin GetOpenPluginInfo GetFindData FreeFindData SetDirectory ProcessKey
GetFiles DeleteFiles OpenFilePlugin"
allowed_imports="kernel32.dll advapi32.dll msvcrt.dll"
# Functions the runtimes may bring in that Windows XP (the oldest system the
# file manager's users run it on) lacks: importing one, the DLL does not load.
newer_functions="GetTickCount64 InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared
InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW WakeConditionVariable
InitOnceExecuteOnce FlsAlloc FlsGetValue FlsSetValue FlsFree GetFinalPathNameByHandleA
GetFinalPathNameByHandleW CreateSymbolicLinkA CreateSymbolicLinkW LCMapStringEx CompareStringEx
GetLocaleInfoEx GetSystemTimePreciseAsFileTime GetCurrentProcessorNumber"

if [ ! -f "$dll" ]; then
  echo "windows-check-dll: no such file: $dll" >&2
  exit 2
fi
if ! command -v "$objdump" >/dev/null 2>&1; then
  echo "windows-check-dll: $objdump not found (install g++-mingw-w64-i686)" >&2
  exit 2
fi

headers=$("$objdump" -p "$dll") || {
  echo "windows-check-dll: $objdump could not read $dll" >&2
  exit 1
}

# "[Ordinal/Name Pointer] Table" lists each exported name as "[   n] Name".
exports=$(printf '%s\n' "$headers" | awk '
  /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
  inside && /^[[:space:]]*$/          { inside = 0 }
  inside && /^[[:space:]]*\[ *[0-9]+\]/ { sub(/^[[:space:]]*\[ *[0-9]+\][[:space:]]*/, ""); print }
' | sort)
imports=$(printf '%s\n' "$headers" | awk '/^[[:space:]]*DLL Name:/ { print $3 }' |
          tr '[:upper:]' '[:lower:]' | sort -u)

failed=0
want=$(printf '%s\n' $expected_exports | sort)

missing=$(comm -23 <(printf '%s\n' "$want") <(printf '%s\n' "$exports" | sed '/^$/d'))
extra=$(comm -13 <(printf '%s\n' "$want") <(printf '%s\n' "$exports" | sed '/^$/d'))
if [ -n "$missing" ]; then
  failed=1
  echo "windows-check-dll: entry points not exported under their undecorated names:"
  printf '  %s\n' $missing
fi
if [ -n "$extra" ]; then
  failed=1
  echo "windows-check-dll: exports that must not be there:"
  printf '%s\n' "$extra" | sed 's/^/  /'
fi

for dll_name in $imports; do
  case " $allowed_imports " in
    *" $dll_name "*) ;;
    *)
      failed=1
      echo "windows-check-dll: imports $dll_name, which is not a system DLL allowed here"
      printf '%s\n' "$headers" | awk -v name="$dll_name" '
        /^[[:space:]]*DLL Name:/ { inside = (tolower($3) == name); next }
        inside && /^[[:space:]]*$/ { inside = 0 }
        inside && /^[[:space:]]*[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+/ { print "    uses " $3 }
      ' | head -n 10
      ;;
  esac
done
for function in $newer_functions; do
  if printf '%s\n' "$headers" | grep -qE "^[[:space:]]*[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$function\$"; then
    failed=1
    echo "windows-check-dll: imports $function, which Windows XP does not have"
  fi
done
if [ -z "$imports" ]; then
  failed=1
  echo "windows-check-dll: found no import table in $dll (is it a DLL?)"
fi

if [ "$failed" -ne 0 ]; then
  echo "windows-check-dll: FAILED for $dll"
  exit 1
fi
echo "windows-check-dll: $dll exports the 14 entry points undecorated and imports only: $(echo $imports)"
