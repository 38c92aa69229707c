# Shared by the shell tests of the qvork program (hosts/tests, tests/faults):
# counted checks, qvork run with its output kept, a work folder of the test's
# own and the cache the host tests use. Sourced, never run. The sourcing
# script sets QVORK and MAKE_CACHE and defines show_failure, which prints
# what explains a failed check (output, screen, trace).

PASSED=0
FAILED=0
STATUS=0

# check NAME COMMAND...: one assertion. A failure is counted, named (after
# $CHECK_PREFIX when set) and explained by show_failure.
check() {
    local name=$1
    shift
    if "$@"; then
        PASSED=$((PASSED + 1))
    else
        FAILED=$((FAILED + 1))
        echo "FAIL: ${CHECK_PREFIX:-}$name"
        show_failure
    fi
}

# finish [LABEL]: the tally; the status is the script's: 0 when nothing failed.
finish() {
    echo "${1:+$1: }$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
}

# make_work NAME: a fresh folder $WORK named after NAME, removed on exit;
# $OUT and $ERR in it keep the output of capture.
make_work() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    trap 'rm -rf "$WORK"' EXIT
    OUT=$WORK/stdout
    ERR=$WORK/stderr
}

# capture COMMAND...: runs COMMAND with no input, keeping its output in $OUT
# and $ERR and its exit status in $STATUS.
capture() {
    "$@" </dev/null >"$OUT" 2>"$ERR"
    STATUS=$?
}

status_is() { [ "$STATUS" -eq "$1" ]; }
stdout_is() { diff <(printf '%s' "$1") "$OUT" >/dev/null; }
stdout_has() { grep -qF -- "$1" "$OUT"; }
stderr_has() { grep -qF -- "$1" "$ERR"; }
stderr_empty() { [ ! -s "$ERR" ]; }

# make_cache FOLDER: the cache the host tests use (make_host_cache) in FOLDER.
make_cache() {
    "$MAKE_CACHE" "$1" >/dev/null || { echo "make_host_cache failed"; exit 1; }
}

# store_cache FOLDER: qvork stores FOLDER as the cache's place (CachePath) in
# the registry file $QVORK_REGISTRY.
store_cache() {
    "$QVORK" config --cache "$1" >/dev/null 2>&1 || { echo "cannot store the cache folder"; exit 1; }
}
