#!/usr/bin/env bash
# Playing a program: to its end with and without repeat, stepping through
# it, and how program mode meets shuffle.  The disc has 5 tracks.
#
#  6 7 8 9 +10   out of reach on a 5-track disc: the clicks do nothing
#  3, 1, Play    "resetting timer button" (the time display counts up
#                again), track 3 alone, then track 1 alone, then "all
#                done" and a reset; unlike the end of the disc in normal
#                order, the stop button is left as it was
#  Cycle, Play   after the last selection "cycling program" and track 3
#                again
#  Next / Prev   while playing go along the program, and at its ends say
#                "no further selections" / "no previous selections" and
#                start the current selection again; Next while paused
#                steps to the following track of the disc
#  All (paused)  the last track becomes current: Pause plays track 5
#  Play, empty   program mode without selections plays the current track
#  Shuffle       in program mode leaves it; the program button leaves
#                shuffle mode
source "$(dirname "$0")/lib.sh"

DISC_TEXT='track 1 00:02:00
track 2 01:02:00
track 3 02:02:00
track 4 03:02:00
track 5 04:02:00
leadout 05:02:00'
make_disc <<<"$DISC_TEXT
speed 60"
range() { printf 'play %02d:02:00 %02d:01:74' $(($1 - 1)) "$1"; }

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
request_mark

click stopButton
expect_trace "cb_cdrom_stop: already stopped"
expect_toggles stopButton=off
click pgmButton
expect_trace "cb_cdrom_program: program on"
poll widget_shown programForm || fail "no program window"
for b in 6 7 8 9 +10; do click "$b"; done
barrier
click 3
expect_trace "adding track 3 to program"
click 1
expect_trace "adding track 1 to program"

click playButton
expect_trace "cb_cdrom_play: resetting timer button" "cdrom_play: starting track 3"
expect_requests "$(range 3)"
expect_toggles timerButton=off
expect_trace "cdrom_atend: at end" "cdrom_play: starting track 1"
expect_requests "$(range 1)"
expect_trace "cdrom_atend: at end" "cdrom_atend: all done" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
expect_requests "$(range 1)" "stop"
expect_toggles stopButton=off playButton=off

click cycleButton
expect_trace "cb_cdrom_cycle: cycle on"
click playButton
expect_trace "cb_cdrom_play: resetting timer button" "cdrom_play: starting track 3"
expect_trace "cdrom_atend: at end" "cdrom_play: starting track 1"
expect_trace "cdrom_atend: at end" "cdrom_atend: cycling program" "cdrom_play: starting track 3"
expect_requests "$(range 3)" "$(range 1)" "$(range 3)"
click cycleButton
expect_trace "cb_cdrom_cycle: cycle off"
wait_for_trace "cdrom_atend: all done"
click quitButton
wait_player_exit

# Slowly now, and Previous always goes back (the threshold is never met).
make_disc <<<"$DISC_TEXT
speed 1"
start_player -xrm 'murbel.replayThreshold: 10000'
trace_mark
request_mark

click pgmButton
expect_trace "cb_cdrom_program: program on"
click playButton
expect_trace "cb_cdrom_play: resetting timer button" "cdrom_play: starting track 1"
expect_requests "$(range 1)"
click stopButton
click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop" "cb_cdrom_stop: already stopped"
click 3
expect_trace "adding track 3 to program"
click 1
expect_trace "adding track 1 to program"
request_mark

click playButton
expect_trace "cb_cdrom_play: resetting timer button" "cdrom_play: starting track 3"
click nextButton
expect_trace "cb_cdrom_next: going to next selection" "cb_cdrom_next: playing track 1" \
    "cdrom_play: starting track 1"
click nextButton
expect_trace "cb_cdrom_next: no further selections in program" "cb_cdrom_next: playing track 1" \
    "cdrom_play: starting track 1"
click prevButton
expect_trace "cb_cdrom_previous: going to prev selection" "cb_cdrom_previous: playing track 3" \
    "cdrom_play: starting track 3"
click prevButton
expect_trace "cb_cdrom_previous: no previous selections in program" \
    "cb_cdrom_previous: playing track 3" "cdrom_play: starting track 3"
expect_requests "$(range 3)" "$(range 1)" "$(range 1)" "$(range 3)" "$(range 3)"

click pauseButton
expect_trace "cb_cdrom_pause: pausing on track 3"
click nextButton
expect_trace "cb_cdrom_next: paused on track 4" "cdrom_play: starting track 4"
expect_requests "pause" "$(range 4)" "pause"
click All
expect_trace "program replaced by in-sequence track list"
click pauseButton
expect_trace "cb_cdrom_pause: resuming track 5" "cdrom_play: starting track 5"
expect_requests "$(range 5)"

# Shuffle may only be switched on when stopped; it then ends program mode.
click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
click shuffleButton
expect_trace "cb_cdrom_shuffle: cancelling program" "program mode cancelled" \
    "cb_cdrom_shuffle: shuffle on"
wait_for_trace_matching '^shuffle_setup: '
poll eval '! widget_viewable programForm' || fail "the program window stayed"
expect_toggles shuffleButton=on pgmButton=off

# The latch from entering program mode is still set: one press to clear it.
click pgmButton
barrier
click pgmButton
expect_trace "cb_cdrom_program: cancelling shuffle mode" "cb_cdrom_program: program on"
expect_toggles shuffleButton=off
poll widget_shown programForm || fail "no program window"
exit 0
