#!/usr/bin/env bash
# Command-line options and resources that change what the window shows.
#
#  -volBase 100 -file x -displayTimer   the start-up volume is
#        100 + trunc((255 - 100) x 0.75) = 216; "-file" takes its value and
#        changes nothing; the volume bar dragged to its start gives 100
#  displayTimer False (a resource) with -volPcent 1   the window has no
#        time display, yet play, pause, program mode and stop work; the
#        bar at pixel 36 of 73 gives 187 + 125 = 312, held at 255
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
leadout 06:00:00
DISC

start_x
start_player -volBase 100 -file /no/such/file -displayTimer
expect_requests "toc-header" "toc-entry 1" "toc-entry 2" "toc-entry 170" "volume 216 216"
[ "$(child_count "$(logo_form)")" = 7 ] || fail "the logo area lacks a widget"
click volumeScrollbar 2 0 5
expect_trace "cdrom_get_curtrack: no status" "volume=100"
expect_requests "volume 100 100"
click quitButton
wait_player_exit
[ "$PLAYER_STATUS" = 0 ] || fail "exit status $PLAYER_STATUS"

trace_mark
request_mark
start_player -xrm 'murbel.displayTimer: False' -volPcent 1
[ "$(child_count "$(logo_form)")" = 6 ] || fail "a time display was made"
click volumeScrollbar 2 36 5
expect_trace "cdrom_get_curtrack: no status" "volume=255"
expect_requests "toc-header" "toc-entry 1" "toc-entry 2" "toc-entry 170" "volume 238 238" \
    "volume 255 255"
click playButton
expect_trace "cdrom_play: starting track 1"
click pauseButton
expect_trace "cb_cdrom_pause: pausing on track 1"
click stopButton
click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop" "cb_cdrom_stop: already stopped"
click pgmButton
expect_trace "cb_cdrom_program: program on"
poll widget_shown programForm || fail "no program window"
click 2
expect_trace "adding track 2 to program"
click playButton
expect_trace "cb_cdrom_play: resetting timer button" "cdrom_play: starting track 2"
expect_requests "play 00:02:00 05:59:74" "pause" "play 00:02:00 05:59:74" "stop" \
    "play 03:00:00 05:59:74"
click quitButton
wait_player_exit
[ "$PLAYER_STATUS" = 0 ] || fail "exit status $PLAYER_STATUS"
exit 0
