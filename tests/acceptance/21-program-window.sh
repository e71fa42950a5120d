#!/usr/bin/env bash
# Building a program in the program window, on a stopped disc of 12 tracks.
#
#  Program button   "program on": the window appears, the time display
#                   counts down (its button on), the program is empty
#  3                adds track 3
#  +10 +10 3, tens  the tens display sums to 23; a click on it adds
#                   nothing, as the disc has 12 tracks
#  +10 1 1, tens    adds track 12: digits add to the number
#  Program button   (every other press only restores the buttons' looks)
#                   while stopped on track 2 adds track 2 after the last
#                   added one, turns itself off and the track button on
#  a selection      clicked while stopped: it becomes the current track
#                   (the program button then adds that track after it)
#  the mark twice   the first click turns it off, the second deletes it
#  blank, 5         after the blank leading toggle, 5 goes to the front
#  Save             writes "Title:No Title" and "Program: 5-3-12-2"
#  All, Clear       1 to 12 in order, then nothing
#  Cancel           "program mode cancelled", the window goes, the
#                   program and time buttons off; with the latch left set
#                   the next press of the program button does nothing,
#                   the one after enters program mode with an empty program
source "$(dirname "$0")/lib.sh"

{
    echo "track 1 00:02:00"
    for t in $(seq 2 12); do printf 'track %d %02d:00:00\n' "$t" $((3 * (t - 1))); done
    echo "leadout 36:00:00"
} | make_disc
# Disc number: (1 x 178 + (2 + ... + 12) x 180) / 12 = 14038 / 12 = 1169.
FILE=$INFO/cd.1169

# The program row must read left to right without overlaps.
check_row()
{
    local bad
    bad=$(children "$(program_display_form)" | sort -n -k4 |
        awk 'NR > 1 && $4 < right { print "a selection at x " $4 " overlaps the one before (ending at " right ")" }
             { right = $4 + $2 }')
    [ -z "$bad" ] || fail "the program row is jumbled: $bad"
}

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
request_mark

click pgmButton
expect_trace "cb_cdrom_program: program on"
poll widget_shown programForm || fail "no program window"
expect_toggles pgmButton=on timerButton=on
[ "$(selection_count)" = 0 ] || fail "the program is not empty"

click 3
expect_trace "adding track 3 to program"
poll eval '[ "$(selection_count)" = 1 ]' || fail "no selection for track 3"
click +10
click +10
click 3
poll widget_shown tens || fail "the tens display is not shown"
click tens
barrier
click +10
click 1
click 1
click tens
expect_trace "adding track 12 to program"
poll eval '[ "$(selection_count)" = 2 ]' || fail "no selection for track 12"

# The press after the one that entered program mode: looks only.
click pgmButton
click nextButton
expect_trace "cb_cdrom_next: stopped on track 1"
click nextButton
expect_trace "cb_cdrom_next: stopped on track 2"
click pgmButton
expect_trace "cb_cdrom_program: adding track 2 to program list"
expect_toggles pgmButton=off trackButton=on
poll eval '[ "$(selection_count)" = 3 ]' || fail "no selection for track 2"
click pgmButton
barrier
expect_toggles pgmButton=on trackButton=off

# The first selection (track 3) becomes current; track 3 goes after it.
click "selection 1"
expect_toggles "selection 1=on" "selection 3=off"
click pgmButton
expect_trace "cb_cdrom_program: adding track 3 to program list"
poll eval '[ "$(selection_count)" = 4 ]' || fail "no selection for track 3"
check_row
click pgmButton
barrier

# The new selection is the mark, and on: off, then deleted.
expect_toggles "selection 2=on"
click "selection 2"
barrier
[ "$(selection_count)" = 4 ] || fail "the first click deleted"
click "selection 2"
expect_trace "deleting selection from program"
poll eval '[ "$(selection_count)" = 3 ]' || fail "the selection is still there"
check_row
expect_toggles "selection 1=on"

click "selection 0"
click 5
expect_trace "adding track 5 to program"
poll eval '[ "$(selection_count)" = 4 ]' || fail "no selection for track 5"
check_row

click Save
expect_trace "program saved to $FILE"
[ "$(cat "$FILE")" = "Title:No Title
Program: 5-3-12-2" ] || fail "saved file: $(cat "$FILE")"

click All
expect_trace "program replaced by in-sequence track list"
poll eval '[ "$(selection_count)" = 12 ]' || fail "All did not give 12 selections"
click Clear
expect_trace "program cleared"
poll eval '[ "$(selection_count)" = 0 ]' || fail "Clear left selections"

# Stopped on track 3: this press adds it and sets the latch.
click pgmButton
expect_trace "cb_cdrom_program: adding track 3 to program list"
click Cancel
expect_trace "program mode cancelled"
poll eval '! widget_viewable programForm' || fail "the window stayed"
expect_toggles pgmButton=off timerButton=off
click pgmButton
barrier
widget_viewable programForm && fail "the latched press entered program mode"
click pgmButton
expect_trace "cb_cdrom_program: program on"
poll widget_shown programForm || fail "no program window"
[ "$(selection_count)" = 0 ] || fail "the program is not empty after a cancel"
barrier
expect_no_requests
exit 0
