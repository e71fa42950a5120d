#!/usr/bin/env bash
# Play, pause, resume and stop, including the clicks that find nothing to do.
#
#  Play              "cdrom_play: starting track 1", the drive plays 1 to
#                    the lead-out, the play button on, the indicator turns
#  Play again        only "already playing track 1", no request; the play
#                    button stays on (so too for Play while paused)
#  Pause / Pause     "pausing on track 1" + pause request, then "resuming
#                    track 1" + resume request (the drive held its place)
#  Stop              (on from start-up, Play turned it off) reset: play of
#                    track 1 then stop, stop button on, the indicator shows
#                    its off frame again
#  Stop again        the button turns off, only "already stopped"
#  Pause (stopped)   the idle drive refuses the pause (reported on stderr);
#                    Play then only reports "paused on track 1", and Pause
#                    starts track 1 afresh, since the drive held nothing
source "$(dirname "$0")/lib.sh"

make_three_track_disc

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
request_mark
snapshot ledsLabel "$SCRATCH/leds.off"

click playButton
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"
expect_toggles playButton=on stopButton=off
turning() { snapshot ledsLabel "$SCRATCH/leds.now" && ! cmp -s "$SCRATCH/leds.now" "$SCRATCH/leds.off"; }
poll turning || fail "the indicator does not turn during play"

click playButton
expect_trace "cb_cdrom_play: already playing track 1"
expect_toggles playButton=on

click pauseButton
expect_trace "cb_cdrom_pause: pausing on track 1"
expect_requests "pause"
expect_toggles pauseButton=on
# Play while paused changes nothing (the player is still playing), and
# the button still shows play.
click playButton
expect_trace "cb_cdrom_play: already playing track 1"
expect_toggles playButton=on pauseButton=on

click pauseButton
expect_trace "cb_cdrom_pause: resuming track 1"
expect_requests "resume"
expect_toggles pauseButton=off

click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
expect_requests "play 00:02:00 08:59:74" "stop"
expect_toggles stopButton=on playButton=off pauseButton=off
expect_looks_like ledsLabel "$SCRATCH/leds.off" "the indicator's off frame"

click stopButton
expect_trace "cb_cdrom_stop: already stopped"
expect_toggles stopButton=off
barrier
expect_no_requests

# Pause with nothing playing: the drive refuses.
click pauseButton
expect_trace "cb_cdrom_pause: pausing on track 0"
expect_requests "pause"
grep -q -x "ioctl(cdrompause): Input/output error" "$ERR" || fail "no pause report: $(cat "$ERR")"
expect_toggles pauseButton=on playButton=off

click playButton
expect_trace "cb_cdrom_play: paused on track 1"
barrier
expect_no_requests

click pauseButton
expect_trace "cb_cdrom_pause: resuming track 1" "cdrom_get_curtrack: no status" \
    "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"

click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
expect_requests "play 00:02:00 08:59:74" "stop"
exit 0
