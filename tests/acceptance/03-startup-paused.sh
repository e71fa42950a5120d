#!/usr/bin/env bash
# Start-up while the drive holds the disc paused.
#
# The drive is paused 81 seconds into track 2.  The player shows play and
# pause on and asks the drive for nothing but the table of contents and
# the volume.  Play then only reports "already playing track 2" (paused
# play is still play); Pause resumes
# the drive where it stands (a resume request, not a new play); Pause
# again pauses it; Stop leaves it stopped at track 1.
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
track 3 06:00:00
leadout 09:00:00
start paused 04:20:00
DISC

start_x
start_player

expect_requests "toc-header" "toc-entry 1" "toc-entry 2" "toc-entry 3" "toc-entry 170" "volume 238 238"
expect_toggles playButton=on pauseButton=on stopButton=off ejectButton=off
expect_no_trace

click playButton
expect_trace "cb_cdrom_play: already playing track 2"
expect_no_requests

click pauseButton
expect_trace "cb_cdrom_pause: resuming track 2"
expect_requests "resume"
expect_toggles pauseButton=off

click pauseButton
expect_trace "cb_cdrom_pause: pausing on track 2"
expect_requests "pause"
expect_toggles pauseButton=on

click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" "cdrom_reset: forcing immediate stop"
expect_requests "play 00:02:00 08:59:74" "stop"
expect_toggles stopButton=on playButton=off pauseButton=off
exit 0
