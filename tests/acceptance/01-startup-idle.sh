#!/usr/bin/env bash
# Start-up with a disc in an idle drive.
#
# Nothing is clicked.  The player reads the table of contents (header, one
# entry per track, the lead-out as track 170), sets the drive's volume to
# 238 for both channels, finds the drive idle ("no status") and shows it
# with the stop button on and every other button off.  The window carries
# no program panel, and the idle drive is not polled for a new disc.
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
track 3 06:00:00
leadout 09:00:00
idle no-status
DISC

start_x
start_player

expect_requests "toc-header" "toc-entry 1" "toc-entry 2" "toc-entry 3" "toc-entry 170" "volume 238 238"
expect_trace "cdrom_get_curtrack: no status"
expect_toggles stopButton=on playButton=off pauseButton=off prevButton=off nextButton=off \
    ejectButton=off quitButton=off cycleButton=off shuffleButton=off rewButton=off ffButton=off \
    pgmButton=off trackButton=off timerButton=off
widget_viewable programForm && fail "the program panel is shown outside program mode"

# Cycle on and off: two lines, no drive request.
barrier
expect_no_requests
# The idle drive gives the poll nothing to do: no "not ready" line.
grep -q "cdrom_open: cdrom not ready" "$OUT" && fail "the poll tried to open an open drive"
[ -s "$ERR" ] && fail "unexpected error reports: $(cat "$ERR")"
exit 0
