#!/usr/bin/env bash
# Fast-forward and rewind held on while the disc plays.
#
# Playing track 1, fast-forward clicked on steps one second on at once
# (the drive plays from there to a second before the lead-out; no pause),
# then again on every tick of the play timer until it is clicked off,
# which makes one last step; the play timer then goes back to plain
# ticks and no more play requests follow.  Rewind held on steps one
# second back per tick, and on track 1 stops one second after its start
# (00:03:00).  The indicator turns all along.
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
track 3 06:00:00
leadout 60:00:00
DISC

# MM:SS:FF starts of the play requests after the mark, in frames.
play_frames()
{
    requests_after_mark | cut -f2- | awk '/^play / { split($2, t, ":"); print (t[1] * 60 + t[2]) * 75 + t[3] }'
}
plays_at_least() { [ "$(play_frames | wc -l)" -ge "$1" ]; }
no_pauses() { ! requests_after_mark | cut -f2- | grep -q '^pause$'; }

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
request_mark
snapshot ledsLabel "$SCRATCH/leds.off"

click playButton
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 59:59:74"

hold ffButton
expect_trace "cb_cdrom_ff: moving forward in track 1"
poll plays_at_least 4 || fail "the play timer made no ff steps"
let_go ffButton
expect_trace "cb_cdrom_ff: moving forward in track 1"
# Plain ticks again: a couple of seconds of queries without a step.
wait_for_queries 3
count=$(play_frames | wc -l)
wait_for_queries 12
[ "$(play_frames | wc -l)" = "$count" ] || fail "ff steps after the button was let go"
no_pauses || fail "pause requests while playing"
# Each step: one second on, plus the little the drive played meanwhile.
bad=$(play_frames | awk 'NR == 1 && ($1 < 225 || $1 > 300) { print "first " $1 }
    NR > 1 && ($1 - last < 75 || $1 - last >= 150) { print "step of " $1 - last " frames" } { last = $1 }')
[ -z "$bad" ] || fail "ff steps: $bad"
requests_after_mark | cut -f2- | grep '^play ' | grep -v ' 59:59:00$' && fail "a step does not end at 59:59:00"
turning() { snapshot ledsLabel "$SCRATCH/leds.now" && ! cmp -s "$SCRATCH/leds.now" "$SCRATCH/leds.off"; }
poll turning || fail "the indicator does not turn"
request_mark

hold rewButton
expect_trace "cb_cdrom_rew: moving backward in track 1"
clamped() { requests_after_mark | cut -f2- | grep -q -x "play 00:03:00 59:59:00"; }
poll clamped || fail "rewind never reached the start of track 1"
let_go rewButton
expect_trace "cb_cdrom_rew: moving backward in track 1"
wait_for_queries 3
count=$(play_frames | wc -l)
wait_for_queries 12
[ "$(play_frames | wc -l)" = "$count" ] || fail "rewind steps after the button was let go"
no_pauses || fail "pause requests while playing"
# Back by a second less what was played meanwhile, down to 00:03:00.
bad=$(play_frames | awk 'NR > 1 && last != 225 && ($1 >= last || last - $1 > 75) { print "step of " $1 - last " frames" }
    NR > 1 && last == 225 && $1 > 300 { print "left the start for " $1 } { last = $1 }')
[ -z "$bad" ] || fail "rewind steps: $bad"
exit 0
