#!/usr/bin/env bash
# A drive device that does not exist (-device /no/such/dev).
#
# Start-up goes on: the window shows the eject button on and the title
# "No Disc", the open failure is reported with the path as prefix, and
# the poll tries again every second ("cdrom_open: cdrom not ready").
# Every command that needs the drive only logs its "error from cdrom_open"
# line: Play and Stop turn themselves off and the eject button on, Pause
# turns itself off, the others change no button.
source "$(dirname "$0")/lib.sh"

start_x
DEVICE=/no/such/dev start_player

expect_trace "cdrom_get_curtime: error from cdrom_open" "cdrom_open: cdrom not ready"
[ "$(head -n 1 "$ERR")" = "/no/such/dev: No such file or directory" ] ||
    fail "first error report: $(head -n 1 "$ERR")"
expect_toggles ejectButton=on playButton=off stopButton=off

TRACE_IGNORE='^cdrom_open: cdrom not ready$'
click playButton
expect_trace "cb_cdrom_play: error from cdrom_open"
expect_toggles playButton=off ejectButton=on
click pauseButton
expect_trace "cb_cdrom_pause: error from cdrom_open"
expect_toggles pauseButton=off
click stopButton
expect_trace "cb_cdrom_stop: error from cdrom_open"
expect_toggles stopButton=off ejectButton=on
click prevButton
expect_trace "cb_cdrom_previous: error from cdrom_open"
click nextButton
expect_trace "cb_cdrom_next: error from cdrom_open"
click rewButton
expect_trace "cb_cdrom_rew: error from cdrom_open"
click rewButton
expect_trace "cb_cdrom_rew: error from cdrom_open"
click ffButton
expect_trace "cb_cdrom_ff: error from cdrom_open"
click ffButton
expect_trace "cb_cdrom_ff: error from cdrom_open"
click pgmButton
expect_trace "cb_cdrom_program: error from cdrom_open"
widget_viewable programForm && fail "program mode entered without a drive"
# The eject button was on: this click turns it off, after the open failed.
click ejectButton
expect_trace "cb_cdrom_eject: error from cdrom_open"
barrier

# Every report on stderr is the same open failure.
bad=$(grep -v -x "/no/such/dev: No such file or directory" "$ERR")
[ -z "$bad" ] || fail "other error reports: $bad"
exit 0
