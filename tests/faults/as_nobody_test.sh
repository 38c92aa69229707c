#!/usr/bin/env bash
# The qvork host run as another user (nobody, through setpriv) where that user
# may not write or read: a destination folder it cannot write, a site file it
# cannot read, a temporary folder that takes no header file. Each case checks
# that the user is told (status 1, the plug-in's message and the item named)
# and that nothing is created, lost or changed. Needs root to become nobody;
# exits 77 (skipped) otherwise.
#
#   as_nobody_test.sh QVORK MAKE_HOST_CACHE
set -u

QVORK=$1
MAKE_CACHE=$2
# shellcheck source-path=SCRIPTDIR source=../shell/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../shell/common.sh"
NOBODY=(setpriv --reuid=65534 --regid=65534 --clear-groups)

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: not root, so cannot run qvork as another user"
    exit 77
fi
if ! "${NOBODY[@]}" test -x "$QVORK"; then
    echo "SKIP: nobody cannot run $QVORK (a folder on its path is closed to other users)"
    exit 77
fi

make_work qvork-nobody-test
chmod 755 "$WORK"

# as_nobody ARGS...: runs qvork as nobody, keeping its output and status.
as_nobody() { capture "${NOBODY[@]}" "$QVORK" "$@"; }

# A failed check shows qvork's output.
show_failure() {
    echo "  status: $STATUS"
    sed 's/^/  stdout: /' "$OUT"
    sed 's/^/  stderr: /' "$ERR"
}

empty_folder() { [ -d "$1" ] && [ -z "$(ls -A "$1")" ]; }

make_cache "$WORK/cache"
export QVORK_REGISTRY=$WORK/registry.reg
store_cache "$WORK/cache"
chmod -R a+rX "$WORK"
cp -a "$WORK/cache/icache" "$WORK/icache-before"

# --- A destination nobody may not write (root's folder) ---------------------
mkdir "$WORK/dest"
as_nobody get www.example.com/a.html www.example.com/img -C "$WORK/dest"
check "unwritable dest: status 1" status_is 1
check "unwritable dest: the file's message" stderr_has "can't create file!"
check "unwritable dest: the folder's message" stderr_has "can't create dir!"
check "unwritable dest: names the file" stderr_has "$WORK/dest/a.html: access denied"
check "unwritable dest: names the folder" stderr_has "$WORK/dest/img: access denied"
check "unwritable dest: the summary" stdout_has "copied 0 of 3 files (0 bytes)"
check "unwritable dest: nothing created" empty_folder "$WORK/dest"
as_nobody get www.example.com -C "$WORK/dest"
check "unwritable dest, whole site: status 1" status_is 1
check "unwritable dest, whole site: message" stderr_has "can't create dir!"
check "unwritable dest, whole site: names it" stderr_has "$WORK/dest/www.example.com: access denied"
check "unwritable dest, whole site: nothing created" empty_folder "$WORK/dest"

# --- A site file nobody may not read ------------------------------------------
chmod 000 "$WORK/cache/icache/cache1"
as_nobody ls
check "unreadable site: the root still lists" status_is 0
check "unreadable site: listed under its file name" grep -q '^cache1 ' "$OUT"
mkdir -m 777 "$WORK/out"
as_nobody get www.example.com/a.html -C "$WORK/out"
check "unreadable site: get fails" status_is 1
check "unreadable site: nothing created" empty_folder "$WORK/out"
chmod 644 "$WORK/cache/icache/cache1"
check "the cache is as it was" diff -r "$WORK/cache/icache" "$WORK/icache-before"

# --- A temporary folder that takes no header file ------------------------------
# nobody's own folder, closed for writing: the header file cannot be made.
# The folder itself must not be handed to the viewer (which deletes what it
# shows) nor be removed.
mkdir -p "$WORK/home/tmp"
chown 65534 "$WORK/home" "$WORK/home/tmp"
chmod 555 "$WORK/home/tmp"
TMPDIR=$WORK/home/tmp as_nobody header www.example.com/a.html
check "unwritable temp folder: no crash" test "$STATUS" -lt 128
check "unwritable temp folder: status 1" status_is 1
check "unwritable temp folder: told" stderr_has "can't create file!"
check "unwritable temp folder: the folder is still there" test -d "$WORK/home/tmp"

finish as_nobody
