#!/usr/bin/env bash
# End-to-end tests of `qvork mount`: the real program (built with the
# sanitizers) serving a cache written by make_mount_cache through FUSE.
# The mount must equal what `qvork get` writes, byte for byte and name for
# name; headers come back as extended attributes; concurrent readers get the
# right bytes; a write is refused; unmounting leaves no process and no
# private folder behind. Without a usable /dev/fuse the test is skipped
# (status 77) and says why.
#
#   qvork_mount_test.sh QVORK MAKE_MOUNT_CACHE
set -u

QVORK=$1
MAKE_MOUNT_CACHE=$2
# shellcheck source-path=SCRIPTDIR source=../../tests/shell/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/shell/common.sh"

skip() { echo "SKIPPED: $*"; exit 77; }
[ -c /dev/fuse ] && [ -r /dev/fuse ] && [ -w /dev/fuse ] || skip "/dev/fuse is not usable here"
command -v fusermount3 >/dev/null || skip "fusermount3 is not installed (Debian package fuse3)"
command -v getfattr >/dev/null || skip "getfattr is not installed (Debian package attr)"

make_work qvork-mount-test
MNT=$WORK/mnt
LOG=$WORK/mount.log
PID=
# Whatever happens, nothing stays mounted or running.
cleanup() {
    tmux -L "qvork-mount-$$" kill-server 2>/dev/null
    mountpoint -q "$MNT" 2>/dev/null && fusermount3 -u "$MNT"
    [ -n "$PID" ] && kill "$PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
show_failure() { sed 's/^/  mount log: /' "$LOG"; sed 's/^/  stderr: /' "$ERR"; }

"$MAKE_MOUNT_CACHE" "$WORK/cache" || { echo "make_mount_cache failed"; exit 1; }
export QVORK_REGISTRY=$WORK/registry.reg
export TMPDIR=$WORK/tmp
mkdir -p "$TMPDIR" "$MNT"

# mount SOURCE [OPTIONS...]: qvork mount in the foreground, in the background
# of this script, until the mount point answers.
mount_it() {
    "$QVORK" mount -f "$@" "$MNT" >"$LOG" 2>&1 &
    PID=$!
    for _ in $(seq 100); do
        mountpoint -q "$MNT" && return 0
        kill -0 "$PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "mount did not come up"; cat "$LOG"; exit 1
}
# unmount: fusermount3 -u, then the process must end with status 0.
unmount_it() {
    fusermount3 -u "$MNT" && wait "$PID"
    local status=$?
    PID=
    return $status
}
no_sanitizer_report() { ! grep -qE 'ERROR: AddressSanitizer|runtime error:|LeakSanitizer' "$LOG"; }
gone() { ! mountpoint -q "$MNT" && [ -z "$(ls -A "$TMPDIR")" ]; }

mount_it "$WORK/cache"
check "one folder per site, same names told apart by cache file, no name as -" \
    diff <(ls "$MNT" | LC_ALL=C sort) <(printf '%s\n' - -- a-b@cache7 a-b@cache8 broken.test long.test \
                                      www.example.com@cache2 www.example.com@cache2~2 \
                                      www.example.com@cache4 www.hostile.test)
check "the site without a name" [ "$(cat "$MNT/-/nameless.html")" = "no site name" ]
check "a site named as another is told apart is numbered, not the other" \
    test -f "$MNT/www.example.com@cache2/other.html" -a -f "$MNT/www.example.com@cache2~2/ten.html"
check "names listed alike serve their own bodies" \
    [ "$(cat "$MNT/long.test/"L* | tr '\n' ,)" = "one,two," ]
check "a folder whose name fills the listing's field is entered" test -f "$MNT/long.test/"F*/in.html
check "the site named '..', and a site read after it" \
    [ "$(cat "$MNT/--/in-dots.html" "$MNT/www.example.com@cache2/other.html")" = "inside ..
other" ]

"$QVORK" --cache "$WORK/cache" get www.hostile.test -C "$WORK/get" >/dev/null 2>"$ERR"
check "diff -r of the mount against qvork get" diff -r "$MNT/www.hostile.test" "$WORK/get/www.hostile.test"
check "hostile names as get writes them" test -f "$MNT/www.hostile.test/dots/--/evil.txt" \
    -a -f "$MNT/www.hostile.test/_CON.txt" -a -f "$MNT/www.hostile.test/a-b-c=1"
check "clashing names numbered in listing order" [ "$(cat "$MNT/www.hostile.test/dup-x"{,~2,~3,~2~2} \
    "$MNT/www.hostile.test/"{sub-dir/in.html,sub-dir~2,p-1.html,p-1~2.html,docs/index.htm} | tr '\n' ,)" \
    = "first,second,third,numbered already,in,file after folder,p1,p1 again,docs body," ]

H=$MNT/www.hostile.test
check "user.http.header" diff <(getfattr 2>/dev/null --only-values -n user.http.header "$H/index.html") \
    <(printf 'HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 12\r\nLast-Modified: Mon, 01 Apr 2002 10:00:00 GMT')
check "user.http.status" [ "$(getfattr 2>/dev/null --only-values -n user.http.status "$H/a-b-c=1")" = 200 ]
check "user.http.content_type" [ "$(getfattr 2>/dev/null --only-values -n user.http.content_type "$H/index.html")" = text/html ]
check "times from Last-Modified, else Date" \
    [ "$(stat -c %Y "$H/index.html" "$H/news/today.html" | tr '\n' ' ')" = "1017655200 1017747000 " ]
check "read-only modes" [ "$(stat -c %A "$H/index.html" "$H/news" | tr '\n' ' ')" = "-r--r--r-- dr-xr-xr-x " ]
check "writes are refused" bash -c "! touch '$H/new' 2>/dev/null && ! rm '$H/index.html' 2>/dev/null"

# Readers in parallel, each reading every file, all compared with the copy.
readers=()
for i in 1 2 3 4; do
    (cd "$H" && find . -type f -exec md5sum {} + | sort | md5sum >"$WORK/sum$i") &
    readers+=($!)
done
find "$MNT" >/dev/null &
wait "${readers[@]}" $!
expected=$(cd "$WORK/get/www.hostile.test" && find . -type f -exec md5sum {} + | sort | md5sum)
check "concurrent find and cat read the right bytes" \
    [ "$(cat "$WORK"/sum* | sort -u)" = "$expected" ]

check "a damaged site lists what can be read" test -f "$MNT/broken.test/ok.html"
find "$MNT/broken.test" -type f -exec cat {} + >/dev/null 2>&1
check "the mount still answers after the damaged site" test -d "$MNT/www.example.com@cache2"
check "unmount ends the process with status 0" unmount_it
check "no mount, no private folder left" gone
check "no sanitizer report" no_sanitizer_report

# -o decode: bodies and sizes decoded as qvork decodes them.
mount_it -o decode "$WORK/cache"
"$QVORK" --cache "$WORK/cache" cat --decode www.hostile.test/packed.txt >"$WORK/decoded" 2>"$ERR"
check "-o decode: the body as cat --decode writes it" cmp "$H/packed.txt" "$WORK/decoded"
check "-o decode: other bodies as stored" cmp "$H/index.html" "$WORK/get/www.hostile.test/index.html"
check "-o decode: the decoded size" [ "$(stat -c %s "$H/packed.txt")" = 15 ]
check "-o decode: unmounted" unmount_it
UQVORK_DECODE=1 "$QVORK" extfs copyout "$WORK/cache/icache/cache1" packed.txt "$WORK/copied" 2>"$ERR"
check "uqvork copyout decodes with UQVORK_DECODE=1" cmp "$WORK/copied" "$WORK/decoded"
# mc drops a name's leading blanks: " lead.html" beside "lead.html" is listed numbered.
TZ=UTC "$QVORK" extfs list "$WORK/cache/icache/cache6" >"$WORK/list6" 2>"$ERR"
check "uqvork lists a blank-led name as mc keeps it" grep -qE ' 5 [0-9-]+ [0-9:]+ lead~2\.html$' "$WORK/list6"
check "uqvork: a Last-Modified at 0 is a date" grep -qE ' 01-01-1970 00:00:00 epoch\.html$' "$WORK/list6"
"$QVORK" extfs copyout "$WORK/cache/icache/cache6" "lead~2.html" "$WORK/lead" 2>"$ERR"
check "uqvork copyout of a name mc read without its leading blank" [ "$(cat "$WORK/lead")" = lead ]
check "uqvork: the damaged record elsewhere in the site is not told with every file" test ! -s "$ERR"
"$QVORK" extfs list "$WORK/nowhere" 2>"$ERR"
check "uqvork tells what it could not open, as itself" grep -qx "uqvork: $WORK/nowhere: no such file or folder" "$ERR"
mkdir -p "$WORK/over/tmp"
TMPDIR=$WORK/over/tmp timeout 20 "$QVORK" mount -f "$WORK/cache" "$WORK/over" 2>"$ERR"
check "a mount point over the mount's own work folder is refused" grep -q "where the mount keeps its own files" "$ERR"
for point in "$WORK/cache" "$WORK/cache/icache"; do
    timeout 20 "$QVORK" mount -f "$WORK/cache" "$point" 2>"$ERR"
    check "a mount point that would hide the cache is refused: $point" grep -q "would hide the site files" "$ERR"
done

# Without -f: in the background, and gone once unmounted.
"$QVORK" mount "$WORK/cache" "$MNT" 2>"$ERR"
check "mounted in the background" mountpoint -q "$MNT"
fusermount3 -u "$MNT"
# Running, not a zombie left to a parent that does not reap it.
mount_running() { pgrep -f "qvork mount $WORK/cache" | xargs -r ps -o stat= -p | grep -qv Z; }
for _ in $(seq 50); do mount_running || break; sleep 0.1; done
mount_ended() { ! mount_running; }
check "unmounting ends the background process" mount_ended
check "and leaves nothing behind" gone

# Ctrl+C on the terminal of a mount run with -f.
if command -v tmux >/dev/null; then
    tmux -L "qvork-mount-$$" new-session -d "'$QVORK' mount -f '$WORK/cache' '$MNT' 2>>'$LOG'"
    for _ in $(seq 100); do mountpoint -q "$MNT" && break; sleep 0.1; done
    tmux -L "qvork-mount-$$" send-keys C-c
    for _ in $(seq 100); do gone && break; sleep 0.1; done
    check "Ctrl+C unmounts, leaving nothing behind" gone
fi

# One site file; then the site file changes under the mount.
cp "$WORK/cache/icache/cache4" "$WORK/cache7"
mount_it "$WORK/cache7"
check "a site file mounts as its site's top folder" diff <(ls "$MNT") <(printf 'a.html\nimg\n')
check "its file" [ "$(cat "$MNT/a.html")" = A ]
echo >>"$WORK/cache7"
cat "$MNT/a.html" >/dev/null 2>&1 # read before: its body is kept, and the change still seen
wait "$PID"
check "a changed site file ends the mount (status 1)" [ $? -eq 1 ]
PID=
check "and says why" grep -q "changed or went away under the mount; unmounting" "$LOG"
check "nothing left behind" gone

finish qvork_mount
