#!/usr/bin/env bash
# Start-up while the drive is already playing the disc.
#
# The drive plays track 3 when the player starts.  The player must not
# restart it: no play request, the play button on.  Its play timer takes
# over the drive's track, so a click on Play only reports "already playing
# track 3".  The drive then reaches the end of the disc by itself and the
# player notices: "at end", "all done", and the reset leaves the drive
# stopped at track 1 (a play of track 1, then a stop) with the stop button
# on and the play button off.
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
track 3 06:00:00
leadout 09:00:00
start playing 07:30:00
speed 30
DISC

start_x
start_player

expect_requests "toc-header" "toc-entry 1" "toc-entry 2" "toc-entry 3" "toc-entry 170" "volume 238 238"
expect_toggles playButton=on stopButton=off pauseButton=off ejectButton=off

# The first tick of the play timer follows the drive; then Play is idle.
wait_for_queries 2
click playButton
expect_trace "cb_cdrom_play: already playing track 3"

# 90 seconds of disc at 30 times the speed: the end comes in 3 seconds.
expect_trace "cdrom_atend: at end" "cdrom_atend: all done" \
    "cdrom_play: starting track 1" "cdrom_reset: forcing immediate stop"
expect_requests "play 00:02:00 08:59:74" "stop"
expect_toggles stopButton=on playButton=off pauseButton=off
barrier
expect_no_requests
exit 0
