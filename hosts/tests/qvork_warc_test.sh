#!/usr/bin/env bash
# qvork warc end to end: the archives it writes are read back with warcio
# (npm, installed into the build folder by install_warcio.sh), which must
# find every stored response in file order, duplicates included, with its
# digests right and its payload equal to what `qvork get` copies; damaged
# records are named and left out; a failed write leaves nothing behind.
#
#   qvork_warc_test.sh QVORK MAKE_HOST_CACHE NPMDIR
set -u

QVORK=$1
MAKE_CACHE=$2
NPM=$3
HERE=$(dirname "${BASH_SOURCE[0]}")
# shellcheck source-path=SCRIPTDIR source=../../tests/shell/common.sh
source "$HERE/../../tests/shell/common.sh"
make_work qvork-warc-test

run() { capture "$QVORK" "$@"; }
show_failure() {
    echo "  status: $STATUS"
    sed 's/^/  stdout: /' "$OUT"
    sed 's/^/  stderr: /' "$ERR"
}

bash "$HERE/install_warcio.sh" "$NPM" || { echo "FAIL: warcio is not installed"; exit 1; }
"$MAKE_CACHE" "$WORK/cache" warc >/dev/null || { echo "make_host_cache failed"; exit 1; }
export QVORK_REGISTRY=$WORK/registry.reg
store_cache "$WORK/cache"
cp "$WORK/cache/icache/cache1" "$WORK/cache1.kept"
# gone.html (negative body length) cannot be copied: get fails for it alone.
run get damaged.example twice.example -C "$WORK/got"
check "get copies the rest" status_is 1
check "get tells of records it never reached" stderr_has "'damaged.example' (cache1): its file lists 6 stored responses, only 5 file(s)"
check "get tells the over-long URL once, though it reads the site again" \
    bash -c '[ "$(grep -c "too least buf!" "$1")" = 1 ]' - "$ERR"
# A leftover numbered folder makes get copy the site again, alone, to learn its name.
mkdir -p "$WORK/again/damaged~2.example"
run get damaged.example -C "$WORK/again"
check "get tells it once when it copies the site again" \
    bash -c '[ "$(grep -c "too least buf!" "$1")" = 1 ]' - "$ERR"
check "and a failure of that copy keeps its text" stderr_has "can't read file!"
# A whole site that left a record out fails; a file of it that was read does not.
run get broken.example -C "$WORK/broken"
check "a site missing a record: status 1" status_is 1
check "a site missing a record: said" stderr_has "the copy lacks them"
run get damaged.example/a.html -C "$WORK/one"
check "a file read whole from a damaged site: status 0" status_is 0
run ls -lR
check "ls -lR tells the same warning of two sites for each" \
    bash -c '[ "$(grep -c "too least buf!" "$1")" = 2 ]' - "$ERR"

# Every record of both sites in file order but the two damaged ones.
RECORDS='warcinfo ids=ok
response http://damaged.example/a.html 200 block=ok payload=ok ids=ok get=same bytes=9
response http://damaged.example/b.html 200 block=ok payload=ok ids=ok get=same bytes=9
response http://damaged.example/img/c.gif 200 block=ok payload=ok ids=ok get=same bytes=256
response http://damaged.example/ 200 block=ok payload=ok ids=ok get=same bytes=12
response http://twice.example/dup.html 200 block=ok payload=ok ids=ok get=same bytes=6
response http://twice.example/old 301 block=ok payload=ok ids=ok get=same bytes=0
response http://twice.example/dup.html 200 block=ok payload=ok ids=ok get=differs bytes=12
response http://twice.example/odd%20name%7Bx%7D.txt 200 block=ok payload=ok ids=ok get=same bytes=4
'

# cdxj_slices_ok ARCHIVE INDEX: 8 lines in byte order, each offset and length
# cutting out one record of the URL it names, readable on its own.
cdxj_slices_ok() {
    local archive=$1 index=$2 lines=0 key stamp json url offset length
    LC_ALL=C sort -c "$index" || return 1
    while read -r key stamp json; do
        url=$(sed 's/.*"url": "\([^"]*\)".*/\1/' <<<"$json")
        offset=$(sed 's/.*"offset": "\([0-9]*\)".*/\1/' <<<"$json")
        length=$(sed 's/.*"length": "\([0-9]*\)".*/\1/' <<<"$json")
        tail -c +$((offset + 1)) "$archive" | head -c "$length" >"$WORK/slice"
        case $archive in *.gz) gzip -dc <"$WORK/slice" >"$WORK/record" || return 1 ;;
                         *) cp "$WORK/slice" "$WORK/record" ;; esac
        [ "$(head -c 8 "$WORK/record")" = "WARC/1.1" ] || return 1
        grep -qaF "WARC-Target-URI: $url"$'\r' "$WORK/record" || return 1
        lines=$((lines + 1))
    done <"$index"
    [ "$lines" -eq 8 ]
}

for archive in out.warc.gz out.warc; do
    CHECK_PREFIX="$archive: "
    run warc damaged.example cache2 -o "$WORK/$archive" --cdxj "$WORK/$archive.cdxj"
    check "status 1 for the damaged records" status_is 1
    check "over-long URL named" stderr_has "damaged.example (cache1) record 2 at offset 204: URL length out of range; left out"
    check "negative body named" stderr_has "damaged.example (cache1) record 4 at offset 435: unreadable"
    check "summary" stderr_has "8 responses of 2 site(s) written"
    capture node "$HERE/warc_check.mjs" "$NPM" "$WORK/$archive" "$WORK/got"
    check "warcio reads every record" stdout_is "$RECORDS"
    check "index sorted, offsets and lengths right" cdxj_slices_ok "$WORK/$archive" "$WORK/$archive.cdxj"
    check "index fields" grep -qF 'example,twice)/old 20020514091244 {"url": "http://twice.example/old", "mime": "text/html", "status": "301", "digest": "3I42H3S6NNFQ2MSVX7XZKYAYSCX5QBYJ"' "$WORK/$archive.cdxj"
done
CHECK_PREFIX=

run warc broken.example -o "$WORK/broken.warc"
check "a broken chain: told" stderr_has "broken.example (cache3): the record chain is broken after the record at offset"
check "a broken chain: the record past it written" grep -qa "WARC-Target-URI: http://broken.example/z.html" "$WORK/broken.warc"
check "a broken chain: all written" stderr_has "3 responses of 1 site(s) written to $WORK/broken.warc; 1 damaged"

run warc twice.example -o "$WORK/good.warc.gz"
check "an undamaged site: status 0" status_is 0
check "an undamaged site: all written" stderr_has "4 responses of 1 site(s) written"

# Usage and lookup failures write nothing.
while IFS='|' read -r expected args message; do
    # shellcheck disable=SC2086
    run warc $args
    check "qvork warc $args" status_is "$expected"
    check "qvork warc $args: message" stderr_has "$message"
done <<TABLE
2|-o $WORK/x.warc|SITE... or --all
2|--all twice.example -o $WORK/x.warc|SITE... or --all
2|twice.example|-o FILE
1|nowhere.example -o $WORK/x.warc|no site 'nowhere.example'
1|twice.example -o $WORK/no/such/folder/x.warc|cannot create
1|twice.example -o $WORK/x.warc --cdxj $WORK/x.warc|cannot be one file
1|twice.example -o $WORK/cache/icache/cache1|among the cache's site files
1|twice.example -o $WORK/x.warc --cdxj $WORK|is a folder
TABLE
check "nothing left by the failures" test ! -e "$WORK/x.warc"
check "the cache's site file is not replaced" cmp -s "$WORK/cache/icache/cache1" "$WORK/cache1.kept"
mkdir -p "$WORK/dup/icache"
cp "$WORK/cache/icache/cache2" "$WORK/dup/icache/cache1"
cp "$WORK/cache/icache/cache2" "$WORK/dup/icache/cache2"
run --cache "$WORK/dup" warc twice.example -o "$WORK/x.warc"
check "a name two site files share is refused" stderr_has "is shared by the cache files cache1 and cache2"
printf 'not a site' >"$WORK/dup/icache/cache3"
run --cache "$WORK/dup" warc --all -o "$WORK/dup.warc"
check "--all: a cache file that is no site is told" stderr_has "cache3: not a readable site file; left out"
check "--all: and the export is not a success" status_is 1
check "--all: the sites that read are written" test -s "$WORK/dup.warc"

# A write that fails halfway (the file size limit) removes the partial file.
capture bash -c 'trap "" XFSZ; ulimit -f 2; exec "$@"' - "$QVORK" warc --all -o "$WORK/cut.warc" --cdxj "$WORK/cut.cdxj"
check "failed write: status 1" status_is 1
check "failed write: said so" stderr_has "nothing written"
check "failed write: no archive, no index, no partial file" \
    bash -c '! ls "$1" | grep -q "^cut\."' - "$WORK"

finish qvork_warc
