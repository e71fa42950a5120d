#!/usr/bin/env bash
# A disc played to its end in normal order, with and without repeat.
#
# Without repeat: "at end", "all done"; the drive status is read (the
# stop button goes on) and the player resets, leaving the drive stopped
# at track 1.  With cycle on: "at end", "cycling", and track 1 plays again
# to the end of the disc, each time round, until cycle is turned off;
# the next end is the end.  The cycle button shows its own state.
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 01:00:00
leadout 02:00:00
speed 60
DISC

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
request_mark

# The stop button is on from start-up; turn it off to see the end set it.
click stopButton
expect_trace "cb_cdrom_stop: already stopped"
expect_toggles stopButton=off

click playButton
expect_trace "cdrom_play: starting track 1"
expect_trace "cdrom_atend: at end" "cdrom_atend: all done" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
expect_requests "play 00:02:00 01:59:74" "play 00:02:00 01:59:74" "stop"
expect_toggles stopButton=on playButton=off

click cycleButton
expect_trace "cb_cdrom_cycle: cycle on"
expect_toggles cycleButton=on
click playButton
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 01:59:74"
for round in 1 2; do
    expect_trace "cdrom_atend: at end" "cdrom_atend: cycling" "cdrom_play: starting track 1"
    expect_requests "play 00:02:00 01:59:74"
done
expect_toggles playButton=on
click cycleButton
expect_trace "cb_cdrom_cycle: cycle off"
expect_toggles cycleButton=off
wait_for_trace "cdrom_atend: at end"
expect_trace "cdrom_atend: all done" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
exit 0
