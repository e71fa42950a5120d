#!/usr/bin/env bash
# The track and time displays, read by comparing the ink of their labels
# (the pixels of the text, whatever the button's colours) with labels
# they showed before.  The disc: track 1 of 5:00, track 2 of 5:02, the
# lead-out at 10:04; the idle drive reports its last play as completed.
#
#  track display        0 at start; Next while stopped shows 1, then 2
#  track button on      shows the last track (2) while track 1 is current;
#                       off again, the current track (1)
#  time display         "--:--" while stopped
#  time button on       with no current track: the disc length -10:04
#  program 2-2          with the first selection chosen, the time left in
#                       the program, 5:02 + 5:02: the same -10:04; with
#                       the second chosen, something else (-05:02)
#  Cancel               the time display back to "--:--"
#  time button on after an eject: a new disc is assumed ("cdrom_new_disc:
#                       resetting disc", eject button off) and, with no
#                       table of contents, it shows "--:--"
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 05:02:00
leadout 10:04:00
idle completed
DISC

start_x
start_player
expect_toggles stopButton=on

settled_ink trackButton "$SCRATCH/track0"
settled_ink timerButton "$SCRATCH/dashes"
click nextButton
expect_trace "cb_cdrom_next: stopped on track 1"
settled_ink trackButton "$SCRATCH/track1"
click nextButton
expect_trace "cb_cdrom_next: stopped on track 2"
settled_ink trackButton "$SCRATCH/track2"
cmp -s "$SCRATCH/track1" "$SCRATCH/track2" && fail "tracks 1 and 2 look alike"
cmp -s "$SCRATCH/track0" "$SCRATCH/track1" && fail "tracks 0 and 1 look alike"

click prevButton
expect_trace "cb_cdrom_previous: stopped on track 1"
expect_ink_like trackButton "$SCRATCH/track1" "track 1"
click trackButton
expect_toggles trackButton=on
expect_ink_like trackButton "$SCRATCH/track2" "the last track, 2"
click trackButton
expect_toggles trackButton=off
expect_ink_like trackButton "$SCRATCH/track1" "track 1"

click stopButton
expect_trace "cb_cdrom_stop: already stopped"
click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
expect_ink_like trackButton "$SCRATCH/track0" "no track"
click timerButton
expect_toggles timerButton=on
settled_ink timerButton "$SCRATCH/disclength"
cmp -s "$SCRATCH/disclength" "$SCRATCH/dashes" && fail "the disc length shows as dashes"
click timerButton
expect_toggles timerButton=off
expect_ink_like timerButton "$SCRATCH/dashes" '"--:--"'

click pgmButton
expect_trace "cb_cdrom_program: program on"
click 2
expect_trace "adding track 2 to program"
click 2
expect_trace "adding track 2 to program"
click "selection 1"
expect_toggles timerButton=on "selection 1=on"
expect_ink_like trackButton "$SCRATCH/track2" "track 2"
expect_ink_like timerButton "$SCRATCH/disclength" "the program's 10:04"
click "selection 2"
expect_toggles "selection 2=on"
settled_ink timerButton "$SCRATCH/lastselection"
cmp -s "$SCRATCH/lastselection" "$SCRATCH/disclength" && fail "the time left did not shrink"

click Cancel
expect_trace "program mode cancelled"
expect_toggles timerButton=off
expect_ink_like timerButton "$SCRATCH/dashes" '"--:--"'

click ejectButton
expect_trace "cb_cdrom_eject: ejecting on track 2" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop" "program mode cancelled"
expect_toggles ejectButton=on
TRACE_IGNORE='^cdrom_open: cdrom not ready$'
click timerButton
expect_trace "cdrom_new_disc: resetting disc"
expect_toggles timerButton=on ejectButton=off
expect_ink_like timerButton "$SCRATCH/dashes" '"--:--"'
exit 0
