#!/usr/bin/env bash
# End-to-end tests of qvork's interactive panel in a real terminal: tmux runs
# the real program against the real plug-in module, send-keys types and
# capture-pane reads the screen. Each scenario has its own cache, registry,
# temporary folder and tmux server, so the scenarios run in parallel. The
# screen is polled for what it must show, never waited for blindly.
#
#   qvork_panel_test.sh SCENARIO QVORK MAKE_HOST_CACHE MAKE_DEMO DEMO_DIR
#
# SCENARIO: root, walk, copy, view, delete, config, reread, resize, demo,
# keys, open.
set -u

SCENARIO=$1
QVORK=$(realpath "$2")
MAKE_CACHE=$(realpath "$3")
MAKE_DEMO=$(realpath "$4")
DEMO_DIR=$(realpath "$5")
# shellcheck source-path=SCRIPTDIR source=../../tests/shell/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/shell/common.sh"

if ! command -v tmux >/dev/null; then
    echo "tmux is not installed (scripts/install-deps.sh installs it)"
    exit 1
fi

unset TMUX # a server of our own even when the tests run inside tmux
make_work "qvork-panel-$SCENARIO"
SOCKET=qvork-panel-$SCENARIO-$$
TIMEOUT=${QVORK_PANEL_TIMEOUT:-15}
tmux_() { tmux -L "$SOCKET" -f /dev/null "$@"; }
cleanup() {
    tmux_ kill-server 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

REGISTRY=$WORK/registry.reg
CACHE=$WORK/cache
EXPECTED=$WORK/cache/expected
export TMPDIR=$WORK/tmp # qvork's temporary files, checked below
mkdir -p "$TMPDIR"

# A failed check shows the screen.
CHECK_PREFIX="$SCENARIO: "
show_failure() {
    screen | sed 's/^/  | /'
    [ -s "$WORK/stderr" ] && sed 's/^/  stderr: /' "$WORK/stderr"
}

# The cache the host tests use (make_host_cache), stored as CachePath.
use_cache() {
    make_cache "$CACHE"
    QVORK_REGISTRY=$REGISTRY "$QVORK" config --cache "$CACHE" </dev/null >/dev/null 2>&1
}

# start_panel [WIDTH HEIGHT [ARGS...]]: qvork (without a command unless
# ARGS give one), in a new terminal.
start_panel() {
    local width=${1:-100} height=${2:-30}
    shift $(($# < 2 ? $# : 2))
    local command
    command=$(printf '%q ' env "QVORK_REGISTRY=$REGISTRY" "TMPDIR=$TMPDIR" LANG=C.UTF-8 \
        "HOME=$WORK" "ASAN_OPTIONS=${ASAN_OPTIONS:-}" "UBSAN_OPTIONS=${UBSAN_OPTIONS:-}" \
        "$QVORK" "$@")
    local part status
    part=$(printf '%q' "$WORK/status.part")
    status=$(printf '%q' "$WORK/status")
    rm -f "$WORK/status" "$WORK/status.part"
    # The status is written beside its final name and then renamed: the file
    # appears only once it holds the whole status (a redirection alone
    # creates it empty before the status is written).
    tmux_ new-session -d -x "$width" -y "$height" -c "$WORK" \
        "$command 2>$(printf '%q' "$WORK/stderr"); echo \$? >$part; stty -a >$(printf '%q' "$WORK/stty") 2>&1; mv $part $status"
}

screen() { tmux_ capture-pane -p 2>/dev/null; }
keys() { tmux_ send-keys "$@"; }
type_text() { tmux_ send-keys -l "$1"; }

# poll SECONDS COMMAND...: true as soon as COMMAND is.
poll() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    while [ "$tries" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}
on_screen() { screen | grep -qF -- "$1"; }
screen_matches() { screen | grep -qE -- "$1"; }
off_screen() { ! on_screen "$1"; }
# Rows of the screen, 1-based, as the terminal shows them.
row() { screen | sed -n "${1%p}p"; }
row_has() { row "$1" | grep -qF -- "$2"; }
shows() { poll "$TIMEOUT" on_screen "$1"; }
gone() { poll "$TIMEOUT" off_screen "$1"; }
exited() { [ -f "$WORK/status" ]; }
# The status line: the current item in full (second row from the bottom
# of the frame).
status_line_has() { row_has "$(($(screen | wc -l) - 2))p" "$1" 2>/dev/null; }
# The names in the listing, top to bottom, one a line.
listed_names() {
    screen | sed -n '3,$p' | awk -F'│|[|]' 'NF > 3 { sub(/ +$/, "", $2); if ($2 != "") print $2 }'
}

# quit KEY: the panel closes and qvork ends with status 0, clean.
quit_with() {
    keys "$1"
    check "$1 quits" poll "$TIMEOUT" exited
    check "exit status 0" test "$(cat "$WORK/status" 2>/dev/null)" = 0
    check "no sanitizer report" bash -c "! grep -qE 'Sanitizer|runtime error' '$WORK/stderr'"
    check "no temporary file left" test -z "$(ls -A "$TMPDIR")"
}

ROOT_ORDER='cache5
media.example.net
media.example.net/video
news.example.org
www.example.com'

case "$SCENARIO" in
root)
    start_panel
    check "no cache: the status line says which and how to set it" poll "$TIMEOUT" \
        status_line_has "no cache is configured: no CachePath in $REGISTRY; set the folder"
    keys q
    poll "$TIMEOUT" exited
    tmux_ kill-server 2>/dev/null
    use_cache
    start_panel
    check "root listing shown" shows "www.example.com"
    check "title from GetOpenPluginInfo" row_has 1 "qVORK"
    check "sites in name order" test "$(listed_names)" = "$ROOT_ORDER"
    check "record count and cache file" screen_matches 'www\.example\.com +│ +4│cache1'
    check "the unreadable file has no cache file" screen_matches 'cache5 +│ +0│-'
    check "status line: the current item in full" status_line_has "cache5  not a readable site"
    keys Down
    check "status line follows the cursor" poll "$TIMEOUT" status_line_has \
        "media.example.net  1 record, cache file cache4"
    check "key bar: host keys" row_has 30 "5Copy"
    check "key bar: the plug-in's Shift+F3 title" row_has 30 "Shift+F3 VwHdr"
    check "CurDir at the root is empty" row_has 29 "─ \\ ─"
    quit_with q
    ;;
walk)
    use_cache
    start_panel
    check "root shown" shows "www.example.com"
    keys End Enter
    check "site entered" shows "big.bin"
    check "'..' first, folders before files" test "$(listed_names | tr '\n' ' ')" = \
        ".. img a.html big.bin "
    check "CurDir of the site" row_has 29 " www.example.com "
    check "file sizes" screen_matches 'big\.bin +│ +120001│'
    check "cursor starts on '..'" status_line_has "..  up one folder"
    keys Down Enter
    check "folder entered" shows "logo.gif"
    check "CurDir two deep" row_has 29 " www.example.com/img "
    keys Down Enter
    check "third level" shows "up.png"
    keys Home Enter
    check "'..' goes up" shows "logo.gif"
    check "cursor back on the folder left" poll "$TIMEOUT" status_line_has "icons  folder"
    keys Enter
    check "down again" shows "up.png"
    keys 'C-\'
    check "Ctrl+\\ to the site's top" shows "big.bin"
    check "cursor on the top folder left" poll "$TIMEOUT" status_line_has "img  folder"
    keys Home Enter
    check "'..' from the top leaves the site" shows "cache5"
    check "cursor on the site left" poll "$TIMEOUT" status_line_has "www.example.com  4 records"
    keys Home Enter
    check "an unreadable site is not entered" shows "cache5"
    check "still at the root" row_has 29 "─ \\ ─"
    keys F10
    check "F10 asks first" shows "Do you want to quit qvork?"
    keys Escape
    check "No keeps the panel" gone "Do you want to quit"
    keys F10
    check "asked again" shows "Do you want to quit qvork?"
    quit_with Enter
    ;;
keys)
    use_cache
    start_panel
    check "root shown" shows "www.example.com"
    type_text "new"
    check "typing letters: quick search" poll "$TIMEOUT" status_line_has "news.example.org  1 record"
    keys BSpace
    check "Backspace takes back a letter, at the root still" poll "$TIMEOUT" on_screen "Search: ne "
    keys Escape M-m
    check "Esc ends it; Alt+letter searches" poll "$TIMEOUT" status_line_has "media.example.net  1 record"
    keys Escape Home F8
    check "F8 on a file that is no site says why" shows "is not a site file"
    keys Enter End Enter
    check "site entered" shows "big.bin"
    keys Down F8
    check "F8 inside a site says why" shows "Only whole sites can be deleted"
    keys Enter Enter
    check "img entered" shows "logo.gif"
    keys BSpace
    check "Backspace goes up" shows "big.bin"
    keys Down
    check "on a file" poll "$TIMEOUT" status_line_has "a.html  28 bytes"
    tmux_ send-keys -l $'\e[25~'
    check "Shift+F3 as the Linux console sends it" shows "HTTP/1.0 200 OK"
    keys q
    check "viewer closed" shows "big.bin"
    keys Home Down Down F5
    check "F5 asks" shows 'Copy "a.html" to:'
    keys C-u
    type_text "~/home-copié"
    check "the field shows UTF-8 as characters" shows "~/home-copié"
    keys Enter
    check "~ is the home folder" poll "$TIMEOUT" test -f "$WORK/home-copié/a.html"
    keys C-PPage
    check "Ctrl+PgUp goes up: out of the site" shows "cache5"
    keys F1
    check "F1: this panel's keys" shows "Insert, Space"
    keys NPage
    check "then the help file" shows "Opening a copied cache"
    check "rendered without its markup" off_screen "~@"
    keys q
    check "help closed" shows "cache5"
    quit_with q
    ;;
open)
    make_cache "$CACHE"
    start_panel 100 30 open "$CACHE"
    check "open FOLDER: its sites without the registry" shows "www.example.com"
    check "no registry written" test ! -e "$REGISTRY"
    quit_with q
    start_panel 100 30 --cache "$CACHE/icache/cache1" panel
    check "a site file: its top folder" shows "big.bin"
    check "the directory text is empty there" row_has 29 "─ \\ ─"
    keys Down Enter
    check "its folder entered" shows "logo.gif"
    keys Home Enter
    check "'..' back to the top" shows "big.bin"
    keys Home
    quit_with Enter # ".." at the top closes the panel, as an archive's
    start_panel 100 30 --cache "$CACHE/extra/utf8-site" panel
    check "UTF-8 names drawn as characters" shows "naïve-–.html"
    check "other bytes as ?" on_screen "bad?.txt"
    quit_with q
    # Killed in the panel: the run's copy of the registry goes all the same.
    start_panel 100 30 --cache "$CACHE"
    check "--cache FOLDER: its sites" shows "www.example.com"
    check "--cache FOLDER: a copy of the registry for the run" test -n "$(ls -A "$TMPDIR")"
    pkill -TERM -f "^$QVORK --cache $CACHE"
    check "killed: the panel ends" poll "$TIMEOUT" exited
    check "killed: no sanitizer report" bash -c "! grep -qE 'Sanitizer|runtime error' '$WORK/stderr'"
    check "killed: no temporary file left" test -z "$(ls -A "$TMPDIR")"
    # A hang-up, which the screen library leaves alone, gives the terminal back too.
    start_panel 100 30 --cache "$CACHE"
    check "--cache FOLDER again" shows "www.example.com"
    pkill -HUP -f "^$QVORK --cache $CACHE"
    check "hung up: the panel ends" poll "$TIMEOUT" exited
    check "hung up: the terminal echoes again" grep -qE '(^| )icanon .*(^| )echo ' "$WORK/stty"
    ;;
copy)
    use_cache
    start_panel
    check "root shown" shows "www.example.com"
    keys End Enter
    check "site entered" shows "big.bin"
    keys Down Enter
    check "img entered" shows "logo.gif"
    keys End F5
    check "F5 asks for the destination" shows 'Copy "logo.gif" to:'
    check "the default destination is the current folder" on_screen "$WORK"
    type_text "$WORK/out/one"
    keys Enter
    check "copied" shows "copied 1 item(s)"
    check "the file's bytes on disk" cmp -s "$WORK/out/one/logo.gif" "$EXPECTED/logo.gif"
    keys Home Down Insert Insert
    check "two selected" shows "2 selected"
    keys F5
    check "F5 names the selection" shows "Copy 2 items to:"
    type_text "$WORK/out/two"
    keys Enter
    check "both copied" shows "copied 2 item(s)"
    check "the selected file" cmp -s "$WORK/out/two/logo.gif" "$EXPECTED/logo.gif"
    check "the selected folder, with its files" cmp -s "$WORK/out/two/icons/up.png" "$EXPECTED/up.png"
    check "copied items are deselected" gone "2 selected"
    keys F5
    check "asked again" shows '" to:'
    keys Escape
    check "Esc cancels" gone '" to:'
    check "nothing copied on Esc" test ! -e "$WORK/logo.gif"
    quit_with q
    ;;
view)
    use_cache
    start_panel
    check "root shown" shows "www.example.com"
    keys End Enter
    check "site entered" shows "big.bin"
    keys Down Down S-F3
    check "Shift+F3: the stored header in the viewer" shows "HTTP/1.0 200 OK"
    check "the header's lines" on_screen "Content-Type: text/html"
    keys q
    check "the viewer closes" shows "big.bin"
    check "the header's temporary file is deleted" test -z "$(ls -A "$TMPDIR")"
    keys F3
    check "F3: the body in the viewer" shows "<html><body>A</body></html>"
    keys End PPage Home Escape
    check "Esc closes the viewer" shows "big.bin"
    check "the body's temporary copy is removed" test -z "$(ls -A "$TMPDIR")"
    keys Up S-F3
    check "Shift+F3 on a folder shows nothing" poll "$TIMEOUT" status_line_has "img  folder"
    check "no viewer on a folder" off_screen "HTTP/1.0"
    quit_with q
    ;;
delete)
    use_cache
    start_panel
    check "root shown" shows "news.example.org"
    keys Down Down Down
    check "on news.example.org" poll "$TIMEOUT" status_line_has "news.example.org  1 record"
    keys F8
    check "the plug-in's confirmation" shows "Delete 1 site(z)."
    check "its buttons" on_screen "[ Yes ] [ No ]"
    keys Escape
    check "Esc answers no" gone "site(z)"
    check "nothing deleted" test -f "$CACHE/icache/cache2"
    check "the site still listed" on_screen "news.example.org"
    keys F8
    check "asked again" shows "Delete 1 site(z)."
    keys Enter
    check "Yes: the site is gone from the screen" gone "news.example.org"
    check "its cache file is deleted" test ! -e "$CACHE/icache/cache2"
    keys Home Down Insert Insert
    check "two selected" shows "2 selected"
    keys F8
    check "one question for both" shows "Delete 2 site(z)."
    keys y
    check "both gone" gone "media.example.net"
    check "both files deleted" test ! -e "$CACHE/icache/cache3" -a ! -e "$CACHE/icache/cache4"
    check "the rest stays" test -f "$CACHE/icache/cache1"
    # Two sites of one name: back from the second, the cursor is on it.
    cp "$CACHE/icache/cache1" "$CACHE/icache/cache6"
    keys C-r End
    check "on the second www.example.com" poll "$TIMEOUT" status_line_has "cache file cache1"
    keys Enter
    check "inside it" shows "big.bin"
    keys Home Enter
    check "back on it, not on its twin" poll "$TIMEOUT" status_line_has "cache file cache1"
    cp "$CACHE/icache/cache5" "$CACHE/icache/cache1"
    keys F8 Enter
    check "a file changed since the list was read is not deleted, and named" shows "Not deleted:"
    check "the site not deleted is named" on_screen "www.example.com (cache1)"
    check "that file is kept" test -f "$CACHE/icache/cache1"
    keys Enter
    quit_with q
    ;;
config)
    use_cache
    # On --cache DIR the run keeps a copy of the registry file: what the
    # dialog saves must still reach the file at once.
    start_panel 100 30 --cache "$CACHE"
    check "root shown" shows "www.example.com"
    keys F9
    check "F9: the settings dialog" shows "[ ] Show in Plugins Menu"
    check "its other items" on_screen "[x] Show in Disks Menu"
    check "its buttons, the default marked" on_screen "{ Ok } [ Cancel ]"
    keys Escape
    check "Esc closes it" gone "Show in Plugins Menu"
    check "Esc leaves the registry alone" bash -c "! grep -q Show_Plugz '$REGISTRY'"
    keys F9
    check "opened again" shows "Show in Plugins Menu"
    keys Space
    check "Space toggles the focused check box" shows "[x] Show in Plugins Menu"
    keys Tab Tab x 5
    check "the digit field takes a digit only" shows " 5 Disks Menu Digit"
    keys Enter
    check "Enter on the field presses Ok" shows "settings saved"
    check "check box saved" grep -qF '"Show_Plugz"=hex:01' "$REGISTRY"
    check "digit saved" grep -qF '"Diskz_num"=hex:05' "$REGISTRY"
    keys F9
    check "opened a third time" shows "[x] Show in Plugins Menu"
    keys Down Space Tab Tab Tab Enter
    check "Cancel closes it" gone "Show in Disks Menu"
    check "Cancel saves nothing" grep -qF '"Show_Diskz"=hex:01' "$REGISTRY"
    quit_with q
    ;;
reread)
    use_cache
    "$MAKE_DEMO" "$WORK/demo" "$DEMO_DIR" >/dev/null || { echo "make_demo failed"; exit 1; }
    start_panel
    check "root shown" shows "www.example.com"
    cp "$WORK/demo/icache/cache4" "$CACHE/icache/cache7"
    keys Down Up
    check "the root listing is held" off_screen "intranet.example:8080"
    keys C-r
    check "Ctrl+R reads the cache again" shows "intranet.example:8080"
    check "the new site's cache file" screen_matches 'intranet\.example:8080 +│ +8│cache7'
    rm "$CACHE/icache/cache7"
    keys C-r
    check "and again without it" gone "intranet.example:8080"
    quit_with q
    ;;
resize)
    use_cache
    start_panel
    check "root shown" shows "www.example.com"
    tmux_ resize-window -x 64 -y 16
    check "redrawn at the new size: key bar on the last row" poll "$TIMEOUT" row_has 16 "10Quit"
    check "the frame's corner at the new width" poll "$TIMEOUT" row_has 15 '─┘'
    check "no row wider than the terminal" test "$(screen | LC_ALL=C.UTF-8 wc -L)" -le 64
    keys F9
    check "a dialog on the small screen" shows "Show in Disks Menu"
    tmux_ resize-window -x 100 -y 30
    check "the dialog redrawn after a resize" poll "$TIMEOUT" row_has 30 "10Quit"
    check "the dialog stays open" on_screen "Show in Disks Menu"
    check "the panel beneath it redrawn" on_screen "www.example.com"
    keys Escape
    check "dialog closed" gone "Show in Disks Menu"
    tmux_ resize-window -x 20 -y 5
    check "too small a terminal is said" shows "too small"
    tmux_ resize-window -x 100 -y 30
    check "the panel comes back" shows "www.example.com"
    quit_with q
    ;;
demo)
    "$MAKE_DEMO" "$WORK/demo" "$DEMO_DIR" >/dev/null || { echo "make_demo failed"; exit 1; }
    QVORK_REGISTRY=$REGISTRY "$QVORK" config --cache "$WORK/demo" </dev/null >/dev/null 2>&1
    start_panel
    check "the demo's sites" shows "intranet.example:8080"
    for site in www.example.com news.example.org localhost:8080 cache5; do
        check "demo lists $site" on_screen "$site"
    done
    keys Down Enter
    check "the intranet site entered" shows "projects"
    for step in projects 2002 q2 reports final; do
        keys Down Enter
        check "on the way down: $step" poll "$TIMEOUT" row_has 29 "/$step "
    done
    check "six folders deep" shows "summary.html"
    check "CurDir of the deep folder" on_screen "intranet.example:8080/projects/2002/q2/reports/final"
    keys 'C-\'
    check "back at the site's top" shows "index.htm"
    keys End Up
    check "the redirect stored with an empty body" poll "$TIMEOUT" status_line_has "home  0 bytes"
    keys S-F3
    check "its header: a 301 with a Location" shows "Location: http://intranet.example:8080/wiki/Main_Page"
    keys q
    check "back in the panel" shows "index.htm"
    quit_with q
    ;;
*)
    echo "unknown scenario $SCENARIO"
    exit 2
    ;;
esac

finish "panel $SCENARIO"
