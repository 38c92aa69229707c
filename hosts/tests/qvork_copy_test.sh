#!/usr/bin/env bash
# End-to-end tests of what qvork adds to listings and copies, on a small web
# site written by make_host_cache (web): ls -l/-R as JSON and TSV read back,
# cat, get --decode (gzip, br, chunked, a body that does not decode), file
# times from Last-Modified, the manifest, and an offline copy in which every
# link resolves to a file that exists; a whole-site get of the mount tests'
# site (clashing names, a folder named "..") mapping each body to its file.
#
#   qvork_copy_test.sh QVORK MAKE_HOST_CACHE MAKE_MOUNT_CACHE
set -u

QVORK=$1
MAKE_CACHE=$2
MAKE_MOUNT_CACHE=$3
# shellcheck source-path=SCRIPTDIR source=../../tests/shell/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/shell/common.sh"
make_work qvork-copy-test
run() { capture "$QVORK" "$@"; }
show_failure() {
    echo "  status: $STATUS"
    sed 's/^/  stdout: /' "$OUT" | head -40
    sed 's/^/  stderr: /' "$ERR" | head -20
}

"$MAKE_CACHE" "$WORK/cache" web >/dev/null || { echo "make_host_cache failed"; exit 1; }
EXPECTED=$WORK/cache/expected
export QVORK_REGISTRY=$WORK/registry.reg TMPDIR=$WORK/tmp
mkdir -p "$TMPDIR"
store_cache "$WORK/cache"
SITE=www.site.test
APRIL1=$(date -u -d '2002-04-01 10:00:00' +%s)
APRIL2=$(date -u -d '2002-04-02 08:00:00' +%s)

# --- ls -l -R as JSON and TSV, read back --------------------------------
run ls -lR --format json "$SITE"
check "ls json: status" status_is 0
check "ls json: ten files" test "$(jq '[.[] | select(.type == "file")] | length' "$OUT")" -eq 10
check "ls json: encoding, type, date and URL of a file" test "$(jq -r '.[] | select(.name == "about") |
    [.content_encoding, .content_type, .last_modified, .url, .status] | join("|")' "$OUT")" = \
    "gzip|text/html|2002-04-01T10:00:00Z|http://$SITE/about|200"
check "ls json: a redirect's status" test "$(jq '.[] | select(.name == "old") | .status' "$OUT")" -eq 301
run ls -lR --format tsv
check "ls tsv from the root: status" status_is 0
check "ls tsv: every row has eleven fields" awk -F'\t' 'NF != 11 { exit 1 }' "$OUT"
check "ls tsv: the query URL's row" grep -qF "$(printf '%s\tlist?page=2\tfile\t' "$SITE")" "$OUT"
check "ls tsv: the site row with its cache file" grep -qF "$(printf '\t%s\tsite\t' "$SITE")" "$OUT"
run ls -l cache1/css
check "ls -l text, the site by its cache file" stdout_has "site.css  file"
check "ls -l text: the URL" stdout_has "http://$SITE/css/site.css"
run ls "$SITE/list?page=2"
check "ls text: a name a shell would read is quoted" stdout_has "'list?page=2'"

# --- cat --------------------------------------------------------------------
run cat --decode "$SITE/about"
check "cat --decode: the gzip body decoded" cmp -s "$OUT" "$EXPECTED/about"
run cat "$SITE/about"
check "cat: the stored bytes" cmp -s <(gzip -dc <"$OUT") "$EXPECTED/about"
run cat "$SITE/css"
check "cat of a folder fails" status_is 1

# --- get --decode, file times, the manifest ---------------------------------
run get --decode --manifest "$WORK/m1.json" "$SITE" -C "$WORK/d"
D=$WORK/d/$SITE
check "get --decode: fails for nothing" status_is 0
check "get --decode: gzip" cmp -s "$D/about" "$EXPECTED/about"
check "get --decode: chunked" cmp -s "$D/list-page=2" "$EXPECTED/list"
check "get --decode: br" cmp -s "$D/notes.txt" "$EXPECTED/notes.txt"
check "get --decode: a body that does not decode is kept as stored" test "$(cat "$D/bad.txt")" = "not gzip at all"
check "get --decode: and warned about" stderr_has "http://$SITE/bad.txt: written as stored"
check "get: the summary line" stderr_has "10 file(s),"
check "get: file time = Last-Modified" test "$(stat -c %Y "$D/index.html")" -eq "$APRIL1"
check "get: file time = Date without Last-Modified" test "$(stat -c %Y "$D/img/bg.png")" -eq "$APRIL2"
check "manifest json: one row per file" test "$(jq length "$WORK/m1.json")" -eq 10
check "manifest json: what became what" test "$(jq -r '.[] | select(.url == "http://'$SITE'/list?page=2") |
    [.path, .status, .size, .date] | join("|")' "$WORK/m1.json")" = \
    "$SITE/list-page=2|200|$(stat -c %s "$EXPECTED/list")|2002-04-02T08:00:00Z"
run get --no-times --manifest "$WORK/m2.tsv" "$SITE/img" -C "$WORK/n"
check "get --no-times: today's time" test "$(stat -c %Y "$WORK/n/img/logo.png")" -gt "$APRIL2"
check "manifest tsv: heading and two rows" test "$(wc -l <"$WORK/m2.tsv")" -eq 3
check "manifest tsv: fields" grep -qF "$(printf 'http://%s/img/logo.png\timg/logo.png\t200\timage/png\t4\t2002-04-01T10:00:00Z' "$SITE")" "$WORK/m2.tsv"
# A file of the user's own that bears the raw name the copy cleans up.
mkdir -p "$WORK/u"
echo "mine" >"$WORK/u/list?page=2"
touch -d 2020-01-01 "$WORK/u/list?page=2"
run get --offline --manifest "$WORK/m3.tsv" "$SITE/list?page=2" -C "$WORK/u"
check "a user's file named as stored stays as it was" test "$(cat "$WORK/u/list?page=2")" = mine \
    -a "$(stat -c %Y "$WORK/u/list?page=2")" = "$(date -d 2020-01-01 +%s)"
check "the copy is the file it wrote" grep -qF "$(printf '\tlist-page=2.html\t200\t')" "$WORK/m3.tsv"

# --- get --offline: every link resolves ------------------------------------
run get --offline "$SITE" -C "$WORK/o"
O=$WORK/o/$SITE
check "offline: status" status_is 0
check "offline: a page without extension gets .html" test -f "$O/about.html" -a ! -e "$O/about"
check "offline: a query page too" test -f "$O/list-page=2.html"
check "offline: the redirect forwards" grep -qF 'url=about.html"' "$O/old.html"
check "offline: root-absolute link made relative" grep -qF 'href="css/site.css"' "$O/index.html"
check "offline: absolute link with fragment" grep -qF 'href="about.html#team"' "$O/index.html"
check "offline: unquoted value quoted" grep -qF 'src="img/logo.png"' "$O/index.html"
check "offline: srcset" grep -qF 'srcset="img/logo.png 1x, img/bg.png 2x"' "$O/index.html"
check "offline: inline style" grep -qF "style=\"background: url('img/logo.png')\"" "$O/index.html"
check "offline: a page not in the cache becomes absolute" grep -qF 'href="http://www.site.test/missing.html"' "$O/index.html"
check "offline: other sites untouched" grep -qF 'href="http://other.test/x"' "$O/index.html"
check "offline: fragment-only link untouched" grep -qF 'href="#top"' "$O/index.html"
check "offline: a link in other letter case reaches its file" grep -qF 'href="img/logo.png">Logo' "$O/index.html"
check "offline: CSS url() and @import" grep -qF '@import "more.css"' "$O/css/site.css"
check "offline: every other byte kept" test "$(sed -E 's/(href|src|srcset|style)=("[^"]*"|'"'"'[^'"'"']*'"'"'|[^ >]*)//g; s/url\([^)]*\)//g' "$O/index.html")" = \
    "$(sed -E 's/(href|src|srcset|style)=("[^"]*"|'"'"'[^'"'"']*'"'"'|[^ >]*)//g; s/url\([^)]*\)//g' "$EXPECTED/index.html")"
# broken_links FOLDER: how many links of its pages and sheets (not web
# URLs) name no file; each is told. Links are percent-decoded first.
broken_links() {
    local broken=0 page link target
    while IFS= read -r -d '' page; do
        while IFS= read -r link; do
            case $link in http:* | https:* | '#'* | '') continue ;; esac
            link=${link%%#*}
            link=${link//&amp;/\&}
            target=$(dirname "$page")/$(printf '%b' "${link//%/\\x}")
            [ -f "$target" ] || { echo "  $page: $link does not resolve" >&2; broken=$((broken + 1)); }
        done < <(grep -aoE "(href|src|url)=(\"[^\"]*\"|'[^']*'|[^ >]*)|url\(['\"]?([^)'\"\\]|\\\\.)*|@import \"[^\"]*|url=[^\"]*|, [^ ]+ 2x" "$page" |
            sed -E "s/^(href|src)=//; s/^url\(//; s/^@import \"//; s/^url=//; s/^, //; s/ 2x$//; s/^[\"']//; s/[\"']$//; s/\\\\//g")
    done < <(find "$1" \( -name '*.htm*' -o -name '*.css' \) -print0)
    echo "$broken"
}
check "offline: every link resolves to a file that exists" test "$(broken_links "$O")" -eq 0

# --- get of a whole site whose names clash or cannot be entered ----------------
"$MAKE_MOUNT_CACHE" "$WORK/hostile" >/dev/null || { echo "make_mount_cache failed"; exit 1; }
run --cache "$WORK/hostile" get --decode --manifest "$WORK/m3.tsv" www.hostile.test -C "$WORK/h"
check "hostile get: gzip decoded though a folder is named '..'" cmp -s "$WORK/h/www.hostile.test/packed.txt" <(echo "hello, decoded")
check "hostile get: the folder named '..' it cannot look into fails the run" status_is 1
check "hostile get: each clashing name maps to its own body" awk -F'\t' -v dir="$WORK/h" '
    BEGIN { want["dup?x"] = "first"; want["dup:x"] = "second"; want["dup|x"] = "third"
            want["dup-x~2"] = "numbered already"; want["sub?dir"] = "file after folder"; want["p?1.html"] = "p1 again"
            want["fold:1/x.txt"] = "same"; want["fold?1/x.txt"] = "same"; want["fold?1/y.txt"] = "only" }
    { key = substr($1, 25) }
    key in want { getline body < (dir "/" $2); if (body != want[key]) exit 1; n++ }
    END { exit n != 9 }' "$WORK/m3.tsv"
run --cache "$WORK/hostile" get --manifest "$WORK/m4.tsv" cache2 cache4 -C "$WORK/e"
check "two sites of one name: all files counted" stdout_has "copied 3 of 3 files"
check "two sites of one name: each body mapped to its own file" awk -F'\t' -v dir="$WORK/e" '
    NR > 1 { getline body < (dir "/" $2); if (body != ($1 ~ /other/ ? "other" : $1 ~ /gif/ ? "GIF89a" : "A")) exit 1; n++ }
    END { exit n != 3 }' "$WORK/m4.tsv"
# --- get of a damaged site: what was written is still decoded and dated -------
"$MAKE_CACHE" "$WORK/rough" rough >/dev/null || { echo "make_host_cache rough failed"; exit 1; }
R=$WORK/r/rough.test
run --cache "$WORK/rough" get --decode --manifest "$WORK/m5.tsv" rough.test -C "$WORK/r"
check "damaged site: the failure is the status" status_is 1
check "damaged site: the other pages are still decoded" test "$(cat "$R/index.html")" = "<p>home</p>"
check "damaged site: and dated" test "$(stat -c %Y "$R/index.html")" -eq "$APRIL1"
check "damaged site: and in the manifest" test "$(wc -l <"$WORK/m5.tsv")" -eq 7
check "decoding keeps a page named like its temporary file" test "$(cat "$R/a.txt.qvork-decoded")" = kept
check "decoding: and decodes the page beside it" test "$(cat "$R/a.txt")" = "decoded a"
check "a name's control characters are escaped in warnings" stderr_has 'rough.test/esc\x1b[2J.txt: written as stored'
check "no raw escape reaches the terminal" test "$(grep -c $'\x1b' "$ERR")" -eq 0
(ulimit -f 100 && exec "$QVORK" --cache "$WORK/rough" get rough.test -C "$WORK/f") >"$OUT" 2>"$ERR"
STATUS=$?
check "over the file size limit: the copy fails" status_is 1
check "over the file size limit: the one file is told" stderr_has "big.bin: file too large"
check "over the file size limit: the files after it are written" test -f "$WORK/f/rough.test/small.txt"

run --cache "$WORK/rough" get --offline links.test other.test -C "$WORK/l"
L=$WORK/l/links.test
check "offline, two sites: status" status_is 0
check "offline, two sites: every link resolves" test "$(broken_links "$WORK/l")" -eq 0
check "offline: a link to / and to a folder reach their pages" grep -qF '<a href="index.htm">home</a> <a href="docs/index.htm">docs</a>' "$L/index.htm"
check "offline: a link to another copied site is relative" grep -qF 'href="../other.test/o.html"' "$L/index.htm"
check "offline: and back" grep -qF 'href="../links.test/index.htm"' "$WORK/l/other.test/o.html"
check "offline: a Latin-1 link keeps its byte" grep -qF 'href="caf%E9.html"' "$L/index.htm"
check "offline: <base href> names the page itself" grep -qF '<base href="index.htm"><a href="x.html">x</a> <a href="#top">' "$L/docs/index.htm"
check "offline: a fragment link goes where <base href> sent it" grep -qF '<a href="docs/x.html#s">' "$L/based.html"
check "offline: a page stored without a type is HTML by its name" grep -qF '<a href="../faq.html">' "$L/docs/untyped.htm"
check "offline: a link a <base> sent elsewhere says where" grep -qF '<base href="cdn.html"><img src="http://cdn.test/img/logo.gif">' "$L/cdn.html"
check "offline: an escaped ) in url()" grep -qF 'url(img/p\(1\).png)' "$L/s.css"
check "offline: a folder's page kept behind its redirect, links from its folder" grep -qF 'href="z.html"' "$L/d/sec.html"
check "offline: links as old pages wrote them reach their files" \
    grep -qF '<a href="about.html">blank</a> <a href="d/z.html">back</a> <a href="caf%E9.html-a=1&amp;b=2.html">query</a> <a href="solo.html">solo</a>' "$L/index.htm"
check "offline: a link to a redirect goes to its target" grep -qF '<a href="faq.html">faq</a>' "$L/index.htm"
check "offline: a link to a page whose name the listing cuts" grep -qE '<a href="L{200,}[^"]*">long</a>' "$L/index.htm"
check "offline: a link to a redirect takes the fragment it names" grep -qF '<a href="faq.html#q">help</a>' "$L/index.htm"
check "offline: a redirect whose name was cut still forwards" grep -qs 'url=about.html' "$L"/rrrrrrrrrr*
check "offline: a redirect to itself forwards to the web" grep -qF 'url=https://links.test/self"' "$L/self.html"
mkdir -p "$WORK/l/links.old" # a neighbour whose name begins as the site's
run --cache "$WORK/rough" get --offline links.test -C "$WORK/l"
check "offline again into the same place: status" status_is 0
check "offline again: no item left out for a neighbour's name" test "$(grep -c 'clashes' "$ERR")" -eq 0
check "offline again: links still resolve" test "$(broken_links "$WORK/l")" -eq 0
check "offline again: the page is renamed over the earlier copy's" test -f "$L/about.html" -a ! -e "$L/about"

(ulimit -f 1 && exec "$QVORK" --cache "$WORK/rough" get --offline links.test -C "$WORK/g") >"$OUT" 2>"$ERR"
STATUS=$?
check "offline past the file size limit: fails" status_is 1
check "offline past the file size limit: the page is left whole as stored" \
    cmp -s "$WORK/g/links.test/grow.html" <("$QVORK" --cache "$WORK/rough" cat links.test/grow.html)
run --cache "$WORK/rough" get cache2 -C "$WORK/c2"
check "a cache file's name wins over a site of that name" test -f "$WORK/c2/links.test/index.htm" -a ! -e "$WORK/c2/cache2"

mkdir -p "$WORK/bs/we/ird"
run get "$SITE/about" -C "$WORK/bs/we\\ird"
check "a destination holding a backslash is refused" stderr_has "reads as a folder separator"
check "and nothing is written elsewhere" test -z "$(ls -A "$WORK/bs/we/ird")" -a ! -e "$WORK/bs/we\\ird"
run get "$SITE/about" -C "$WORK/mf" --manifest "$WORK/mf/about"
check "a manifest named like a copied file: fails" status_is 1
check "and leaves the copied page" cmp -s "$WORK/mf/about" <("$QVORK" cat "$SITE/about")

run --cache "$WORK/hostile" ls -R www.hostile.test
check "ls -R: a folder named '..' is not entered" stderr_has "cannot enter www.hostile.test/dots/.."

finish
