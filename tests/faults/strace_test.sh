#!/usr/bin/env bash
# Reads and writes that fail part-way, made so by strace's fault injection on
# the real qvork program: a copy whose output file's writes start failing
# with ENOSPC (or EIO) after some succeeded, and every single read of the site file
# failing with EIO in turn (the root listing's, the site load's and the
# copy's). The user must be told, the command must fail, and no file may be
# left holding anything but a true prefix of the stored body. Exits 77
# (skipped) where strace cannot trace.
#
#   strace_test.sh QVORK MAKE_HOST_CACHE
set -u

QVORK=$1
MAKE_CACHE=$2
# shellcheck source-path=SCRIPTDIR source=../shell/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../shell/common.sh"

if ! command -v strace >/dev/null; then
    echo "SKIP: strace is not installed"
    exit 77
fi
if ! strace -f -qq -o /dev/null true 2>/dev/null; then
    echo "SKIP: strace cannot trace here (ptrace is restricted)"
    exit 77
fi

make_work qvork-strace-test
WORK=$(realpath "$WORK") # strace matches the paths of open files
OUT=$WORK/stdout
ERR=$WORK/stderr
LOG=$WORK/strace.log

# traced PATH STRACE-OPTIONS... -- QVORK-ARGS...: runs qvork under strace,
# tracing (and injecting into) only the calls on PATH (every call for "").
traced() {
    local options=()
    [ -n "$1" ] && options=(-P "$1")
    shift
    while [ "$1" != "--" ]; do
        options+=("$1")
        shift
    done
    shift
    # LeakSanitizer cannot work under ptrace: leaks are other tests' business.
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
        capture strace -f -qq -o "$LOG" "${options[@]}" "$QVORK" "$@"
}

# A failed check shows qvork's errors and the end of the trace.
show_failure() {
    echo "  status: $STATUS"
    sed 's/^/  stderr: /' "$ERR"
    sed 's/^/  strace: /' "$LOG" | tail -5
}

injected() { grep -q 'INJECTED' "$LOG"; }
# is_prefix FILE OF: FILE's bytes begin OF's (an empty or missing FILE does).
is_prefix() {
    [ ! -e "$1" ] && return 0
    cmp -s -n "$(stat -c %s "$1")" "$1" "$2" && [ "$(stat -c %s "$1")" -le "$(stat -c %s "$2")" ]
}

make_cache "$WORK/cache"
export QVORK_REGISTRY=$WORK/registry.reg
export TMPDIR=$WORK/tmp
mkdir -p "$TMPDIR"
store_cache "$WORK/cache"
BIG=$WORK/cache/expected/big.bin # 120001 bytes: three copy chunks
SITE_FILE=$WORK/cache/icache/cache1

# --- Writes to the output file fail from the Nth on ----------------------------
# Each body is written to a new temporary file (made with O_EXCL and written
# through that descriptor, one write per copy chunk) that is moved over its
# name when complete, so the writes are found in an uninjected run: their numbers
# among all write calls (the sanitizer's own writes included), then each is
# failed by that number.
# body_writes TARGET: the numbers of the writes to the temporary file that
# became TARGET in $LOG.
body_writes() {
    awk -v target="$1" '
      / write\(/  { n++; fd = $0; sub(/.* write\(/, "", fd); sub(/,.*/, "", fd)
                    if (fd in tempOf) list[tempOf[fd]] = list[tempOf[fd]] " " n }
      / openat\(.*O_WRONLY/ { path = $0; sub(/^[^"]*"/, "", path); sub(/".*/, "", path)
                    fd = $0; sub(/.*= /, "", fd); tempOf[fd] = path }
      / close\(/  { fd = $0; sub(/.* close\(/, "", fd); sub(/\).*/, "", fd); delete tempOf[fd] }
      / rename(at2)?\(/ { split($0, q, "\""); if (q[4] == target) print list[q[2]] }
    ' "$LOG"
}
# The copy inside the system (copy_file_range) is declined, so the body
# comes through write.
writes=(-e trace=openat,write,close,rename,renameat2,copy_file_range -e inject=copy_file_range:error=ENOSYS)
dest=$WORK/write-plain
mkdir -p "$dest"
traced "" "${writes[@]}" -- get www.example.com/big.bin -C "$dest"
read -r -a body <<<"$(body_writes "$dest/big.bin")"
check "the body's writes are seen" test "${#body[@]}" -ge 3
# After the first failed write nothing more is written to the file, so a
# write that fails once stands for every later one too.
for when in 1 2 last; do
    case $when in
    last) nth=${body[${#body[@]} - 1]} ;;
    *) nth=${body[$((when - 1))]} ;;
    esac
    dest=$WORK/write-$when
    mkdir -p "$dest"
    printf 'an older copy' >"$dest/big.bin"
    traced "" "${writes[@]}" -e inject=write:error=ENOSPC:when="$nth" -- get www.example.com/big.bin -C "$dest"
    check "write fails at $when: injected" injected
    check "write fails at $when: status 1" status_is 1
    check "write fails at $when: told" stderr_has "can't write file!"
    check "write fails at $when: names the file" stderr_has "$dest/big.bin: disk full"
    check "write fails at $when: the older file kept" test "$(cat "$dest/big.bin")" = "an older copy"
    check "write fails at $when: no temporary file left" test "$(ls "$dest")" = big.bin
done

# A whole site: a write that fails for another reason than a full disk: the
# failing file goes, every other one is written whole.
dest=$WORK/write-site
mkdir -p "$dest"
traced "" "${writes[@]}" -- get www.example.com -C "$dest"
read -r -a body <<<"$(body_writes "$dest/www.example.com/big.bin")"
rm -rf "$dest"
mkdir -p "$dest"
traced "" "${writes[@]}" -e inject=write:error=EIO:when="${body[2]:-0}" -- get www.example.com -C "$dest"
check "whole site, a write fails: injected" injected
check "whole site, a write fails: status 1" status_is 1
check "whole site, a write fails: told" stderr_has "can't write file!"
check "whole site, a write fails: big.bin removed" test ! -e "$dest/www.example.com/big.bin"
for file in a.html img/logo.gif img/icons/up.png; do
    check "whole site, a write fails: $file written" \
        cmp -s "$dest/www.example.com/$file" "$WORK/cache/expected/$(basename "$file")"
done

# --- Each read of the site file fails in turn -------------------------------------
# The reads of one uninjected run: the root listing's, the site load's and
# the copy's.
# As above, the copy inside the system is declined so the copy reads.
reads_only=(-e trace=read,copy_file_range -e inject=copy_file_range:error=ENOSYS)
traced "$SITE_FILE" "${reads_only[@]}" -- get www.example.com/big.bin -C "$WORK/plain"
check "reads of the site file are seen" status_is 0
reads=$(grep -c '^[0-9]* *read(' "$LOG")
check "the site file is read more than once" test "$reads" -gt 1
copy_failures=0
for ((when = 1; when <= reads; when++)); do
    dest=$WORK/read-$when
    mkdir -p "$dest"
    traced "$SITE_FILE" "${reads_only[@]}" -e inject=read:error=EIO:when=$when -- \
        get www.example.com/big.bin -C "$dest"
    check "read $when fails: injected" injected
    check "read $when fails: status 0 or 1, no crash" test "$STATUS" -le 1
    if [ "$STATUS" -eq 0 ]; then
        # The failed read did not matter (the record was read already).
        check "read $when fails: whole copy" cmp -s "$dest/big.bin" "$BIG"
    else
        check "read $when fails: told" test -s "$ERR"
        check "read $when fails: no byte that was not read" is_prefix "$dest/big.bin" "$BIG"
        stderr_has "can't read file!" && copy_failures=$((copy_failures + 1))
    fi
done
check "a read of the copy itself failed at least once" test "$copy_failures" -gt 0

# --- The copy inside the system fails -----------------------------------------
# Whatever it did not copy goes through read and write: the body is whole.
for error in EIO ENOSPC EXDEV; do
    dest=$WORK/fast-$error
    mkdir -p "$dest"
    traced "" -e trace=copy_file_range -e inject=copy_file_range:error=$error -- \
        get www.example.com/big.bin -C "$dest"
    check "copy_file_range fails with $error: injected" injected
    check "copy_file_range fails with $error: status 0" status_is 0
    check "copy_file_range fails with $error: whole copy" cmp -s "$dest/big.bin" "$BIG"
done

finish
