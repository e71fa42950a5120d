#!/usr/bin/env bash
# Start-up without a display.
#
# With DISPLAY unset the player writes exactly "can't open display" and a
# line feed to stderr, nothing to stdout, and ends with status 1 before it
# touches the drive (the disc's request log stays empty).
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
leadout 03:00:00
DISC

env -u DISPLAY "$MURBEL" -debug -device "sim:$DISC" >"$OUT" 2>"$ERR"
status=$?
[ $status -eq 1 ] || fail "exit status $status, not 1"
[ "$(od -c "$ERR")" = "$(printf "can't open display\n" | od -c)" ] || fail "stderr: $(od -c "$ERR")"
[ -s "$OUT" ] && fail "stdout not empty: $(cat "$OUT")"
[ -e "$REQLOG" ] && fail "the drive was asked: $(cat "$REQLOG")"
exit 0
