#!/usr/bin/env bash
# Eject while playing, the poll that waits for a disc, and the eject
# button's second click.
#
#  Eject on track 2   "ejecting on track 2"; the player resets (play of
#                     track 1, stop), leaves program mode, and asks the
#                     drive to allow removal and eject; the eject button
#                     stays on and the title reads "No Disc"
#  (no disc)          the poll logs "cdrom not ready" once a second
#  Eject again        the button turns off; the drive is empty, so only
#                     "error from cdrom_open"
#  disc put back      the poll reads it, the stop button goes on, the
#                     title reads "No Title"; the eject button stays off
#  Eject (stopped)    "ejecting on track 0": no play or stop request,
#                     only allow and eject
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
track 3 06:00:00
leadout 09:00:00
speed 20
DISC

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
request_mark
snapshot titleBar "$SCRATCH/bar.notitle"

click playButton
expect_trace "cdrom_play: starting track 1"
click nextButton
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
expect_requests "play 00:02:00 08:59:74" "play 03:00:00 08:59:74"

click ejectButton
expect_trace "cb_cdrom_eject: ejecting on track 2" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop" "program mode cancelled"
expect_requests "play 00:02:00 08:59:74" "stop" "allow" "eject"
expect_toggles ejectButton=on playButton=off pauseButton=off
snapshot titleBar "$SCRATCH/bar.ejected"
cmp -s "$SCRATCH/bar.ejected" "$SCRATCH/bar.notitle" && fail "the title did not change on eject"

# Polling the empty drive: only the table-of-contents header is asked.
REQ_IGNORE='^toc-header$'
expect_trace "cdrom_open: cdrom not ready" "cdrom_open: cdrom not ready"
expect_no_requests
TRACE_IGNORE='^cdrom_open: cdrom not ready$'

click ejectButton
expect_trace "cb_cdrom_eject: error from cdrom_open"
expect_toggles ejectButton=off

# The disc goes back in.
touch "$DISC"
wait_for_trace "cdrom_get_curtrack: no status"
REQ_IGNORE=''
request_mark
expect_toggles stopButton=on ejectButton=off
expect_looks_like titleBar "$SCRATCH/bar.notitle" '"No Title"'

# Eject with no current track: nothing to reset in the drive.
click ejectButton
expect_trace "cb_cdrom_eject: ejecting on track 0" "program mode cancelled"
REQ_IGNORE='^toc-header$'
expect_requests "allow" "eject"
expect_toggles ejectButton=on
expect_looks_like titleBar "$SCRATCH/bar.ejected" '"No Disc"'
wait_for_trace "cdrom_open: cdrom not ready"

# The ejected title is "No Disc": typing it leaves the bar unchanged.
open_title_dialog
dialog_type "No Disc"
dialog_return
dialog_closed
expect_looks_like titleBar "$SCRATCH/bar.ejected" '"No Disc"'
exit 0
