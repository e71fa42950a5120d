#!/usr/bin/env bash
# Quit while the disc plays.
#
# Quit says "bye" and ends the player with status 0.  The drive is not
# told to stop (a real drive plays on): after the play request the log
# holds no stop, pause or eject, and nothing is written to stderr.
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
leadout 06:00:00
DISC

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
request_mark

click playButton
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 05:59:74"
wait_for_queries 4

click quitButton
wait_player_exit
[ "$PLAYER_STATUS" = 0 ] || fail "exit status $PLAYER_STATUS"
expect_trace "cb_cdrom_quit: bye"
expect_no_trace
expect_no_requests
[ -s "$ERR" ] && fail "error reports: $(cat "$ERR")"
exit 0
