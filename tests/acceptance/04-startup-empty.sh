#!/usr/bin/env bash
# Start-up with no disc in the drive (the disc file does not exist).
#
# The window comes up with the eject button on and the title "No Disc".
# Once a second the poll tries the drive: "cdrom_open: cdrom not ready" on
# the trace, the failed table-of-contents request on stderr.  Then a disc
# is put in: the poll reads it, finds the drive idle and sets the stop
# button on (the eject button keeps its look), the title becomes "No
# Title", the polling stops, and Play plays from track 1 at once.
source "$(dirname "$0")/lib.sh"

start_x
start_player

expect_toggles ejectButton=on stopButton=off playButton=off pauseButton=off
# The time display, filled while the window is built, finds no drive.
expect_trace "cdrom_get_curtime: error from cdrom_open" \
    "cdrom_open: cdrom not ready" "cdrom_open: cdrom not ready"
[ "$(head -n 1 "$ERR")" = "ioctl(cdromreadtochdr): : No medium found" ] ||
    fail "first error report: $(head -n 1 "$ERR")"

# The title bar must read "No Disc": typing that very title in the dialog
# leaves the bar as it was, typing another one changes it.
snapshot titleBar "$SCRATCH/bar.start"
open_title_dialog
dialog_type "No Title"
dialog_return
dialog_closed
snapshot titleBar "$SCRATCH/bar.other"
cmp -s "$SCRATCH/bar.start" "$SCRATCH/bar.other" && fail "the title bar ignores the title"
open_title_dialog
dialog_type "No Disc"
dialog_return
dialog_closed
expect_looks_like titleBar "$SCRATCH/bar.start" '"No Disc"'

# A disc is put in; the next poll finds it.
make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
leadout 06:00:00
DISC
TRACE_IGNORE='^cdrom_open: cdrom not ready$'
wait_for_trace "cdrom_get_curtrack: no status"
expect_requests "toc-header" "toc-entry 1" "toc-entry 2" "toc-entry 170"
expect_toggles stopButton=on ejectButton=on
expect_looks_like titleBar "$SCRATCH/bar.other" '"No Title"'
polls=$(trace_count "cdrom_open: cdrom not ready")

click playButton
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 05:59:74"
expect_toggles playButton=on
# More than a poll interval later the poll has stayed quiet.
wait_for_queries 8
[ "$(trace_count "cdrom_open: cdrom not ready")" = "$polls" ] || fail "the poll goes on with a disc in"
exit 0
