#!/usr/bin/env bash
# Previous and next in normal order: stopped, playing and paused, at both
# ends of the disc, early and late in a track.
#
# Stopped, the buttons only move the current track ("stopped on track N",
# no drive request); Next on the last track says "at last track", Previous
# on the first stays there.  Playing, each step plays the new track to the
# end of the disc; Previous late in a track (4 seconds or more) starts the
# same track again, early in it goes back a track.  Paused, the new track
# is played and paused at once, and Pause then starts it afresh rather
# than resuming the drive.  A second player started with a replay
# threshold of 10000 seconds shows Previous going back a track late in it.
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

click nextButton
expect_trace "cb_cdrom_next: stopped on track 1"
click nextButton
expect_trace "cb_cdrom_next: stopped on track 2"
click nextButton
expect_trace "cb_cdrom_next: stopped on track 3"
click nextButton
expect_trace "cb_cdrom_next: at last track"
click prevButton
expect_trace "cb_cdrom_previous: stopped on track 2"
click prevButton
expect_trace "cb_cdrom_previous: stopped on track 1"
click prevButton
expect_trace "cb_cdrom_previous: stopped on track 1"
barrier
expect_no_requests

click playButton
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"
click nextButton
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
expect_requests "play 03:00:00 08:59:74"
# A tick has measured the time: at 20 times the speed, several seconds.
wait_for_queries 7
click prevButton
expect_trace "cb_cdrom_previous: playing track 2" "cdrom_play: starting track 2"
expect_requests "play 03:00:00 08:59:74"
click nextButton
expect_trace "cb_cdrom_next: playing track 3" "cdrom_play: starting track 3"
expect_requests "play 06:00:00 08:59:74"
click nextButton
expect_trace "cb_cdrom_next: at last track"
wait_for_queries 7

click pauseButton
expect_trace "cb_cdrom_pause: pausing on track 3"
expect_requests "pause"
click prevButton
expect_trace "cb_cdrom_previous: paused on track 3" "cdrom_play: starting track 3"
expect_requests "play 06:00:00 08:59:74" "pause"
# Paused, the time is not measured: now it is early in the track.
click prevButton
expect_trace "cb_cdrom_previous: paused on track 2" "cdrom_play: starting track 2"
expect_requests "play 03:00:00 08:59:74" "pause"
click nextButton
expect_trace "cb_cdrom_next: paused on track 3" "cdrom_play: starting track 3"
expect_requests "play 06:00:00 08:59:74" "pause"
expect_toggles pauseButton=on playButton=on
# The step set the measured time to 0: Pause plays the track afresh
# instead of resuming.
click pauseButton
expect_trace "cb_cdrom_pause: resuming track 3" "cdrom_play: starting track 3"
expect_requests "play 06:00:00 08:59:74"

click quitButton
expect_trace "cb_cdrom_quit: bye"
wait_player_exit

# Previous with a replay threshold that is never reached.
start_player -xrm 'murbel.replayThreshold: 10000'
trace_mark
request_mark
click playButton
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"
click nextButton
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
expect_requests "play 03:00:00 08:59:74"
wait_for_queries 7
click prevButton
expect_trace "cb_cdrom_previous: playing track 1" "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"
click prevButton
expect_trace "cb_cdrom_previous: playing track 1" "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"
exit 0
