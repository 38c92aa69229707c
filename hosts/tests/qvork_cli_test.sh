#!/usr/bin/env bash
# End-to-end tests of the qvork command line: the real program, the real
# plug-in module, a cache written by make_host_cache, a registry file of the
# test's own. Standard input, output and error are not terminals here, so
# these also pin down the no-terminal rules: no progress line, questions
# answered No unless --yes, dialogs printed and cancelled unless settings
# are given.
#
#   qvork_cli_test.sh QVORK MAKE_HOST_CACHE
set -u

QVORK=$1
MAKE_CACHE=$2
# shellcheck source-path=SCRIPTDIR source=../../tests/shell/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/shell/common.sh"
make_work qvork-cli-test

# run ARGS...: runs qvork, keeping its output and status.
run() { capture "$QVORK" "$@"; }

# A failed check shows qvork's output.
show_failure() {
    echo "  status: $STATUS"
    sed 's/^/  stdout: /' "$OUT"
    sed 's/^/  stderr: /' "$ERR"
}

make_cache "$WORK/cache"
export QVORK_REGISTRY=$WORK/registry.reg
export TMPDIR=$WORK/tmp
mkdir -p "$TMPDIR"

ROOT_LISTING='cache5                   0      24  -
media.example.net        1    1077  cache4
media.example.net/video  1    1083  cache3
news.example.org         1    1076  cache2
www.example.com          4  120811  cache1
'

# --- Usage errors: status 2 and a message saying what is wrong -------------
while IFS='|' read -r args message; do
    # shellcheck disable=SC2086
    run $args
    check "usage: qvork $args" status_is 2
    check "usage message: qvork $args" stderr_has "$message"
done <<'TABLE'
|no command given
frobnicate|unknown command 'frobnicate'
ls a b|at most one PATH
get|at least one PATH
cat a b|exactly one PATH
ls --format xml|--format
header|exactly one PATH
rm|at least one SITE
menus x|no operands
--all rm x|--all is an option of ls
config --digit 12|--digit takes a digit
config --disks-menu maybe|--disks-menu takes on or off
ls --registry|--registry needs a value
ls --bogus|unknown option '--bogus'
-- ls|-- comes after a command
menus -- x|no operands
ls -- a b|at most one PATH
TABLE

# --- Help ---------------------------------------------------------------
for args in "ls --help" "get -h" --version help --help; do
    # shellcheck disable=SC2086
    run $args
    check "help: qvork $args" status_is 0
done
for word in "ls [--all]" "get [OPTIONS] PATH" "header PATH" "rm [--yes]" "menus" "config" \
    "--registry FILE" "--cache DIR" "--plugin FILE" "In use now: $WORK/registry.reg" \
    "Exit status" "Examples"; do
    check "help mentions $word" stdout_has "$word"
done
check "help names the manual page" stdout_has "man qvork"
run ls --help
check "ls --help: its own options" stdout_has "--format"
check "ls --help: not the whole text" test "$(grep -c Examples "$OUT")" -eq 0
run --version
check "--version" stdout_has "qvork 1."

# --- The cache location and the root listing ------------------------------
run ls
check "ls without a cache: fails" status_is 1
check "ls without a cache: says how to set it" stderr_has "no cache is configured: no CachePath in $WORK/registry.reg; set the folder that holds icache with: qvork config --cache DIR"
run --cache "$WORK/cache" ls
check "ls root: status" status_is 0
check "ls root: one row per site file, sorted" stdout_is "$ROOT_LISTING"
check "ls root: --cache is for this run only" test ! -e "$WORK/registry.reg"
check "ls root: no progress line into a pipe" stderr_empty
run config --cache "$WORK/cache"
check "config --cache says what it stored" stdout_has "stored CachePath = $WORK/cache in $WORK/registry.reg"
check "config --cache: CachePath is in the registry file" grep -qF "\"CachePath\"=\"$WORK/cache\"" "$WORK/registry.reg"
run ls
check "ls root again from the registry" stdout_is "$ROOT_LISTING"
check "ls root: nothing on stderr" stderr_empty
mkdir -p "$WORK/nowhere"
run config --cache "$WORK/nowhere"
check "config --cache: stores and stops" status_is 0
check "config --cache of a folder without icache warns" stderr_has "icache is not a folder"
run ls
check "ls of a cache without icache: fails" status_is 1
check "ls of a cache without icache: says so" stderr_has "CachePath '$WORK/nowhere' in $WORK/registry.reg has no icache folder"
rm -rf "$WORK/nowhere"
run ls
check "ls of a missing cache folder: says so" stderr_has "cannot be used: no such folder"
run config --cache "$WORK/cache"
# A copied icache folder: named ICACHE, or renamed and holding the site files.
mkdir -p "$WORK/copied"
cp -r "$WORK/cache/icache" "$WORK/copied/ICACHE"
for given in copied copied/ICACHE copied/ICACHE/; do
    run --cache "$WORK/$given" ls
    check "--cache $given: lists the sites" stdout_is "$ROOT_LISTING"
done
run --cache "$WORK/copied/ICACHE" warc --all -o "$WORK/copied/all.warc"
check "--cache of the site files' folder: warc reads them" stderr_has "7 responses of 4 site(s)"
run --cache "$WORK/copied" warc --all -o "$WORK/copied/ICACHE/cache1"
check "warc is not written over a site file in ICACHE" stderr_has "among the cache's site files"
run --registry "$WORK/copied.reg" config --cache "$WORK/copied/ICACHE/"
check "config --cache of icache itself stores the folder that holds it" stdout_has "stored CachePath = $WORK/copied in"
check "config --cache of icache itself: no warning" stderr_empty
run --cache "$WORK/copied" get --all --no-times -C "$WORK/all"
check "get --all: every readable site" test -d "$WORK/all/www.example.com/img" -a -d "$WORK/all/news.example.org"
check "get --all: the cache file that is no site is told, and fails the run" \
    bash -c "[ $STATUS -eq 1 ] && grep -qF \"'cache5' is not a readable site file; left out\" '$ERR'"
rm -rf "$WORK/all"
mkfifo "$WORK/copied/cache9"
run --cache "$WORK/copied/cache9" ls
check "--cache of a pipe: refused, not waited on" stderr_has "not a regular file"
rm -rf "$WORK/copied" "$WORK/copied.reg"

# --- Browsing: PATH -> SetDirectory walk ------------------------------------
while IFS='|' read -r path status expected; do
    run ls "$path"
    check "ls '$path': status $status" status_is "$status"
    if [ "$status" -eq 0 ]; then
        check "ls '$path': rows" stdout_has "$expected"
    else
        check "ls '$path': message" stderr_has "$expected"
    fi
done <<'TABLE'
www.example.com|0|img      folder       -
www.example.com|0|big.bin  file    120001
www.example.com/img|0|logo.gif  file    256
www.example.com/img/|0|icons     folder    -
www.example.com//img/icons|0|up.png  file  7
www.example.com/img/logo.gif|0|logo.gif  file  256
media.example.net/video|0|clip.txt  file  5
media.example.net|0|root.txt  file  5
www.example.com/img/nope|1|'nope' not found in 'www.example.com/img'
www.example.com/nope/deeper|1|'nope' not found in 'www.example.com'
no.such.site|1|no site at the cache root matches 'no.such.site'
www.example.com/../x|2|cannot hold '..'
cache5|1|the site 'cache5' could not be entered
TABLE

# A site named by its cache file; a name two cache files share.
mkdir -p "$WORK/twice" && cp -r "$WORK/cache/icache" "$WORK/twice/"
cp "$WORK/twice/icache/cache1" "$WORK/twice/icache/cache6"
run --cache "$WORK/twice" ls www.example.com/img
check "a site name two cache files share: usage error" status_is 2
check "a site name two cache files share: names both" stderr_has "shared by the cache files cache1 and cache6"
run --cache "$WORK/twice" ls cache6/img
check "a site by its cache file" stdout_has "logo.gif  file    256"
run --cache "$WORK/twice" ls -R --format tsv
check "ls -R: rows of two sites of one name tell their cache files" \
    test "$(grep -c $'^www.example.com/img\tlogo.gif\tfile\t256\t\tcache[16]$' "$OUT")" -eq 2
run ls -l -- www.example.com
check "after --, an operand: status" status_is 0
check "after --, an operand: listed" stdout_has "a.html"

# --- get: GetFiles with the selected items of one folder ------------------
mkdir -p "$WORK/here"
(cd "$WORK/here" && capture "$QVORK" get www.example.com/a.html)
check "get without -C: into the current folder" cmp -s "$WORK/here/a.html" "$WORK/cache/expected/a.html"
run get www.example.com/img/logo.gif -C "$WORK/out1/new/deeper"
check "get file: status" status_is 0
check "get file: creates the destination, same bytes" cmp -s "$WORK/out1/new/deeper/logo.gif" "$WORK/cache/expected/logo.gif"
run get www.example.com/img www.example.com/a.html -C "$WORK/out2"
check "get folder and file: status" status_is 0
check "get folder and file: nested file" cmp -s "$WORK/out2/img/icons/up.png" "$WORK/cache/expected/up.png"
check "get folder and file: the file" cmp -s "$WORK/out2/a.html" "$WORK/cache/expected/a.html"
run get www.example.com -C "$WORK/out3/"
check "get site: status" status_is 0
check "get site: the summary" stdout_is "copied 4 of 4 files (120292 bytes)
"
check "get site: three-chunk body" cmp -s "$WORK/out3/www.example.com/big.bin" "$WORK/cache/expected/big.bin"
check "get site: tree mirrors the URLs" test -f "$WORK/out3/www.example.com/img/logo.gif"
run get media.example.net/video -C "$WORK/out4"
check "get site with '/' in its name: one folder inside DEST" test -f "$WORK/out4/media.example.net-video/clip.txt"
run get www.example.com/img/logo.gif news.example.org -C "$WORK/out5"
check "get from two folders: usage error" status_is 2
check "get from two folders: message" stderr_has "must lie in the same folder"
run get www.example.com/img/nope -C "$WORK/out6"
check "get missing item: fails" status_is 1
check "get missing item: nothing created" test ! -e "$WORK/out6"
: >"$WORK/a-file"
run get www.example.com/a.html -C "$WORK/a-file"
check "get into a file: fails" status_is 1
check "get into a file: message" stderr_has "cannot create the destination folder"
mkdir -p "$WORK/readonly" && chmod 555 "$WORK/readonly"
if [ "$(id -u)" -ne 0 ]; then
    run get www.example.com/a.html -C "$WORK/readonly"
    check "get into a read-only folder: fails" status_is 1
    check "get into a read-only folder: path and reason" stderr_has "$WORK/readonly/a.html: access denied"
fi

# --- header: ProcessKey Shift+F3 and the Viewer service -------------------
run header www.example.com/a.html
check "header: status" status_is 0
check "header: the stored header, without its blank line, a line end after it" stdout_is "$(printf 'HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 28')"$'\n'
check "header: the temporary file is deleted" test -z "$(ls -A "$TMPDIR")"
run header www.example.com/img
check "header of a folder: fails" status_is 1
check "header of a folder: says why" stderr_has "no header view for 'www.example.com/img'"
run header www.example.com
check "header of a site: usage of a file" status_is 1

# --- rm: the plug-in's own confirmation ----------------------------------
cp -r "$WORK/cache" "$WORK/cache-rm"
run config --cache "$WORK/cache-rm"
run rm news.example.org
check "rm without a terminal: fails" status_is 1
check "rm without a terminal: shows the question" stderr_has "Delete 1 site(z)."
check "rm without a terminal: says how to confirm" stderr_has "--yes"
check "rm without a terminal: nothing deleted" test -f "$WORK/cache-rm/icache/cache2"
run rm --yes news.example.org media.example.net
check "rm --yes: status" status_is 0
check "rm --yes: asked once for both" stderr_has "Delete 2 site(z)."
check "rm --yes: files gone" test ! -e "$WORK/cache-rm/icache/cache2" -a ! -e "$WORK/cache-rm/icache/cache4"
check "rm --yes: prints what it deleted" stdout_is 'deleted news.example.org (cache2)
deleted media.example.net (cache4)
'
run rm --yes ""
check "rm of no site name: a usage error" status_is 2
run rm --yes cache5
check "rm of an entry that is no site file: fails before asking" status_is 1
check "rm of an entry that is no site file: no question" test "$(grep -c 'site(z)' "$ERR")" -eq 0
check "rm of an entry that is no site file: nothing deleted" test -f "$WORK/cache-rm/icache/cache5"
run rm --yes no.such.site
check "rm of an unknown site: fails before asking" status_is 1
check "rm of an unknown site: no question" test "$(grep -c 'site(z)' "$ERR")" -eq 0
run config --cache "$WORK/cache"

# --- menus and config: GetPluginInfo, Configure and the Dialog service ----
export QVORK_REGISTRY=$WORK/settings.reg
run menus
check "menus: defaults" stdout_is 'Disks menu:
  qVORK  [hotkey digit: auto]
Plugins menu:
  (none)
Configuration menu:
  qVORK
'
run config
check "config without a terminal: status" status_is 0
check "config without a terminal: shows the dialog" stdout_has "[x] Show in Disks Menu"
check "config without a terminal: cancels" stdout_has "settings unchanged"
check "config cancelled: registry untouched" test ! -e "$WORK/settings.reg"
run config --disks-menu on --plugins-menu on --digit 7
check "config with settings: status" status_is 0
check "config with settings: all three values written" grep -qF '"Diskz_num"=hex:07' "$WORK/settings.reg"
run menus
check "menus after config" stdout_is 'Disks menu:
  qVORK  [hotkey digit: 7]
Plugins menu:
  qVORK
Configuration menu:
  qVORK
'
printf '; my note\n' >>"$WORK/settings.reg"
run --cache "$WORK/cache" config --digit 5
check "config in a --cache run: the file's other lines are kept" grep -qxF '; my note' "$WORK/settings.reg"
check "config in a --cache run: the setting is kept" grep -qF '"Diskz_num"=hex:05' "$WORK/settings.reg"
check "config in a --cache run: that cache is not stored" test "$(grep -c CachePath "$WORK/settings.reg")" -eq 0
run config --disks-menu off --digit auto
run menus
check "config off and auto" stdout_is 'Disks menu:
  (none)
Plugins menu:
  qVORK
Configuration menu:
  qVORK
'

# --- A registry that is not a registry file is never written over ------
printf 'my notes\nREGEDIT4\n' >"$WORK/notes.txt"
mkfifo "$WORK/fifo"
while IFS='|' read -r file args why; do
    # shellcheck disable=SC2086
    run --registry "$file" $args
    check "not a registry ($file $args): fails" status_is 1
    check "not a registry ($file $args): says why" stderr_has "$file $why"
done <<TABLE
$WORK/notes.txt|config --digit 3|does not start with the line REGEDIT4
$WORK/fifo|--cache $WORK/cache|is a FIFO, not a registry file
$WORK|config --digit 3|is a folder, not a registry file
TABLE
check "not a registry: the notes are kept" test "$(cat "$WORK/notes.txt")" = $'my notes\nREGEDIT4'
check "not a registry: the FIFO is kept" test -p "$WORK/fifo"

# --- On a terminal: the progress line and the questions asked -----------
# script(1) gives qvork a terminal; what it prints there lands in $OUT.
tty_run() {
    local input=$1
    shift
    printf '%b' "$input" | script -qec "$(printf '%q ' "$QVORK" "$@")" /dev/null >"$OUT" 2>"$ERR"
    STATUS=$?
}
if command -v script >/dev/null; then
    export QVORK_REGISTRY=$WORK/registry.reg
    tty_run '' ls www.example.com
    check "tty ls: status" status_is 0
    check "tty ls: the reading-site progress line" grep -qF $'\rreading site [' "$OUT"
    check "tty ls: the line is cleared before the listing" grep -qF $'\r\e[K' "$OUT"
    cp -r "$WORK/cache" "$WORK/cache-tty"
    run config --cache "$WORK/cache-tty"
    tty_run 'x\nn\n' rm news.example.org
    check "tty rm answered No: fails" status_is 1
    check "tty rm answered No: asked again after an unknown answer" test "$(grep -o 'choose 1-2' "$OUT" | wc -l)" -eq 2
    check "tty rm answered No: file kept" test -f "$WORK/cache-tty/icache/cache2"
    check "tty rm answered No: says so" grep -qF "not confirmed" "$OUT"
    tty_run 'y\n' rm news.example.org
    check "tty rm answered Yes: status" status_is 0
    check "tty rm answered Yes: file gone" test ! -e "$WORK/cache-tty/icache/cache2"
    run config --cache "$WORK/cache"
    export QVORK_REGISTRY=$WORK/tty-settings.reg
    tty_run '1\n3\n12\n3\n5\n\n' config
    check "tty config: status" status_is 0
    check "tty config: a check box toggled" grep -qF '"Show_Plugz"=hex:01' "$WORK/tty-settings.reg"
    check "tty config: a digit too long for the field is refused" grep -qF "not changed" "$OUT"
    check "tty config: the digit typed" grep -qF '"Diskz_num"=hex:05' "$WORK/tty-settings.reg"
    tty_run '2\n6\n' config
    check "tty config Cancel: registry unchanged" grep -qF '"Show_Diskz"=hex:01' "$WORK/tty-settings.reg"
fi

# --- A site file with --cache: opened through OpenFilePlugin, not stored ----
SITE_FILE=$WORK/cache/icache/cache1
QVORK_REGISTRY=$WORK/untouched.reg capture "$QVORK" --cache "$SITE_FILE" ls img/
check "site file ls: a folder from the site's top" stdout_is $'icons     folder    -\nlogo.gif  file    256\n'
check "site file ls: nothing stored" test ! -e "$WORK/untouched.reg"
run --cache "$SITE_FILE" get a.html img/logo.gif -C "$WORK/from-file"
check "site file get: status" status_is 2
check "site file get: PATHs of one folder" stderr_has "same folder"
run --cache "$SITE_FILE" get img -C "$WORK/from-file"
check "site file get: the folder copied" test -f "$WORK/from-file/img/logo.gif"
run --cache "$SITE_FILE" header a.html
check "site file header" stdout_has "Content-Type: text/html"
run --cache "$SITE_FILE" get / -C "$WORK/whole-file" --manifest "$WORK/whole-file.tsv" --no-times
check "site file get /: status" status_is 0
check "site file get /: all of it" test -f "$WORK/whole-file/img/logo.gif" -a -f "$WORK/whole-file/a.html"
check "site file get /: URLs name the site, not the file" grep -q $'^http://www.example.com/img/logo.gif\t' "$WORK/whole-file.tsv"
capture "$QVORK" --cache "$SITE_FILE" ls -l --format tsv img
check "site file ls -l: URLs name the site" stdout_has $'\thttp://www.example.com/img/logo.gif'
run --cache "$WORK/cache/icache/cache5" ls
check "not a site file: fails" status_is 1
check "not a site file: says so" stderr_has "is not a site file"
run --cache "$SITE_FILE" rm www.example.com
check "site file rm: usage error" status_is 2
run open
check "open without PATH: usage error" status_is 2

# --- ls -l of a long listing, its views shared with a second process ------
"$MAKE_CACHE" "$WORK/many" many
run --cache "$WORK/many" ls -lR --format tsv many.example
check "long ls -lR: status" status_is 0
check "long ls -lR: nothing on stderr" stderr_empty
check "long ls -lR: every 404 seen" test "$(grep -c $'\t404\ttext/plain\t' "$OUT")" -eq 186
check "long ls -lR: every date seen" test "$(grep -c $'\t200\ttext/html\t\t2002-04-' "$OUT")" -eq 1114
check "long ls -lR: the last file" grep -q $'^many.example/d12\tf1299.html\tfile\t.*\t2002-04-12T10:21:39Z\t' "$OUT"
if [ "$(nproc)" -ge 2 ] && command -v taskset >/dev/null; then
    cp "$OUT" "$WORK/many-shared.tsv"
    capture taskset -c 0 "$QVORK" --cache "$WORK/many" ls -lR --format tsv many.example
    check "long ls -lR on one processor: the same rows" cmp -s "$OUT" "$WORK/many-shared.tsv"
else
    echo "SKIP: long ls -lR on one processor against two: needs two processors and taskset"
fi
check "long ls -lR: no view left in TMPDIR" test -z "$(ls -A "$TMPDIR")"
# Cut short by a closed pipe: the run's private folders go all the same.
"$QVORK" --cache "$WORK/many" ls -lR --format tsv many.example 2>"$ERR" | head -n 1 >"$OUT"
STATUS=${PIPESTATUS[0]}
check "ls -lR | head: ended by the closed pipe" status_is 141
check "ls -lR | head: the first line" stdout_has "folder"
check "ls -lR | head: nothing left in TMPDIR" test -z "$(ls -A "$TMPDIR")"

# --- The module ---------------------------------------------------------
run --plugin "$WORK/no-such-module.so" ls
check "missing module: fails" status_is 1
check "missing module: names it" stderr_has "no-such-module.so"

finish
