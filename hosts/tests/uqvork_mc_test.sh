#!/usr/bin/env bash
# The Midnight Commander helper uqvork in the real mc (Debian package), in a
# tmux terminal, on the demo cache: enable-uqvork sets it up for a fresh
# HOME; Enter on the site file cache1 opens it, two folders are walked down,
# Shift+F3 shows a body, F5 copies a folder out and the bytes equal those of
# `qvork get`; the sizes and dates mc shows are the stored ones; rm is
# refused with a message. Skipped (77), saying why, when mc or tmux is missing.
#
#   uqvork_mc_test.sh QVORK MAKE_DEMO DEMO_DIR MC_HELPER_DIR
set -u

QVORK=$(readlink -f "$1")
MAKE_DEMO=$2
DEMO_DIR=$3
HELPERS=$4
# shellcheck source-path=SCRIPTDIR source=../../tests/shell/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/shell/common.sh"
for tool in mc tmux; do
    command -v $tool >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done

make_work uqvork-mc-test
TMUX_SOCKET=uqvork-mc-$$
trap 'tmux -L "$TMUX_SOCKET" kill-server 2>/dev/null; rm -rf "$WORK"' EXIT
show_failure() { screen | sed 's/^/  screen: /'; sed 's/^/  stderr: /' "$ERR"; }
screen() { tmux -L "$TMUX_SOCKET" capture-pane -p; }
keys() { tmux -L "$TMUX_SOCKET" send-keys "$@"; }
# wait_for TEXT: until the screen shows TEXT (at most 15 s).
wait_for() {
    for _ in $(seq 150); do
        screen 2>/dev/null | grep -qF -- "$1" && return 0
        sleep 0.1
    done
    return 1
}

"$MAKE_DEMO" "$WORK/demo" "$DEMO_DIR" >/dev/null || { echo "make_demo failed"; exit 1; }
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config XDG_DATA_HOME=$WORK/home/.local/share
export QVORK TZ=UTC TMPDIR=$WORK/tmp QVORK_REGISTRY=$WORK/registry.reg
mkdir -p "$WORK/out" "$TMPDIR"
sh "$HELPERS/enable-uqvork" >/dev/null 2>"$ERR"
check "enable-uqvork links the helper" test -x "$XDG_DATA_HOME/mc/extfs.d/uqvork"

capture "$HELPERS/uqvork" rm "$WORK/demo/icache/cache1" a.html
check "rm is refused with a message" bash -c "[ $STATUS -eq 1 ] && grep -q 'read-only' '$ERR'"

capture "$HELPERS/uqvork" list "$WORK/demo"
check "a cache folder lists one folder per site" grep -qE '^dr-xr-xr-x .* www.example.com$' "$OUT"

tmux -L "$TMUX_SOCKET" new-session -d -x 120 -y 30 \
    "mc -u --nocolor '$WORK/demo/icache' '$WORK/out' 2>'$ERR'"
check "mc starts on the demo cache" wait_for "cache5"
keys Down Enter # the cursor starts on "..": cache1 is next
check "Enter on a site file opens it" wait_for "cache1/uqvork://"
# Sizes and dates as mc parsed them from the helper's list.
screen_matches() { screen | grep -qE -- "$1"; }
check "sizes and Last-Modified/Date dates" screen_matches '│ a.html +│ +221│May 14  2002│'
check "folders as folders" screen_matches '│/img +│'

keys Down Down Enter # css, img
check "into img" wait_for "cache1/uqvork://img "
keys Down Enter # icons
check "two folders down" wait_for "cache1/uqvork://img/icons "
keys Down S-F3 # folder.png, raw view
check "Shift+F3 shows the body" wait_for "IHDR"
keys F10
keys C-PgUp
check "back up" wait_for "cache1/uqvork://img "
keys F5
check "F5 asks where to" wait_for 'Copy directory "icons"'
keys Enter
for _ in $(seq 100); do [ -f "$WORK/out/icons/home.png" ] && break; sleep 0.1; done
"$QVORK" --cache "$WORK/demo" get www.example.com/img/icons -C "$WORK/get" >/dev/null 2>&1
check "F5 copies the folder as qvork get does" diff -r "$WORK/out/icons" "$WORK/get/icons"
keys F10
finish uqvork_mc
