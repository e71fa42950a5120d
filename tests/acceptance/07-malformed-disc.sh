#!/usr/bin/env bash
# A disc file with a mistake in it.
#
# The simulated drive names the file and the line of the mistake, once,
# however often the player tries the drive; the player's own open report
# follows on each try.  The window still comes up, with the eject button
# on.  Once the file is mended the poll finds the disc and the stop
# button goes on.
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 3:00:00
leadout 06:00:00
DISC

start_x
start_player

expect_trace "cdrom_get_curtime: error from cdrom_open" "cdrom_open: cdrom not ready" \
    "cdrom_open: cdrom not ready"
expect_toggles ejectButton=on stopButton=off
mistakes=$(grep -c "^murbel: $DISC:2: " "$ERR")
[ "$mistakes" = 1 ] || fail "$mistakes reports of the mistake in line 2, not 1: $(cat "$ERR")"
grep -q -x "sim:$DISC: Invalid argument" "$ERR" || fail "no open report: $(cat "$ERR")"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
leadout 06:00:00
DISC
TRACE_IGNORE='^cdrom_open: cdrom not ready$'
wait_for_trace "cdrom_get_curtrack: no status"
expect_requests "toc-header" "toc-entry 1" "toc-entry 2" "toc-entry 170"
expect_toggles stopButton=on
exit 0
