#!/usr/bin/env bash
# Fast-forward and rewind held on while the disc is paused.
#
# Paused at the start of track 2 (03:00), fast-forward clicked on makes a
# step at once: the drive plays from 15 seconds further on to a second
# before the lead-out and is paused again.  Half a second later the scan
# timer repeats the step, each time 15 seconds on, each followed by pause
# requests, until the button is clicked off: that click makes one last
# step and the chain ends.  Rewind held on steps back 15 seconds at a time,
# across the start of track 2, and stops one second after the start of
# track 1 (00:03:00).  Pause then resumes the drive where the scan left it.
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
track 3 06:00:00
leadout 60:00:00
DISC

# Seconds of the MM:SS:FF start of each play request after the mark.
play_starts()
{
    requests_after_mark | cut -f2- | awk '/^play / { split($2, t, ":"); print t[1] * 60 + t[2] }'
}
# The requests after the mark as one word: P a play, p a pause.
request_shape()
{
    requests_after_mark | cut -f2- | awk '/^play / { printf "P" } /^pause$/ { printf "p" } END { print "" }'
}
plays_at_least() { [ "$(play_starts | wc -l)" -ge "$1" ]; }

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
request_mark

click playButton
expect_trace "cdrom_play: starting track 1"
click pauseButton
expect_trace "cb_cdrom_pause: pausing on track 1"
click nextButton
expect_trace "cb_cdrom_next: paused on track 2" "cdrom_play: starting track 2"
expect_requests "play 00:02:00 59:59:74" "pause" "play 03:00:00 59:59:74" "pause"

hold ffButton
expect_trace "cb_cdrom_ff: moving forward in track 2"
poll plays_at_least 3 || fail "the scan timer made no steps"
let_go ffButton
wait_for_trace_matching '^cb_cdrom_ff: moving forward in track [23]$'
scan_ended() { [[ $(request_shape) =~ ^Pp(Ppp)+Pp$ ]]; }
poll scan_ended   # the last step's requests; checked below
sleep 1   # time for a step that should not come
[[ $(request_shape) =~ ^Pp(Ppp)+Pp$ ]] || fail "ff steps and pauses: $(request_shape)"
steps=$(play_starts | awk 'NR == 1 && $1 != 195 { print "first at " $1 } NR > 1 && $1 - last != 15 { print "step to " $1 } { last = $1 }')
[ -z "$steps" ] || fail "ff steps are not 15 seconds from 03:00: $steps"
requests_after_mark | cut -f2- | grep '^play ' | grep -v ' 59:59:00$' && fail "a step does not end at 59:59:00"
request_mark

hold rewButton
wait_for_trace_matching '^cb_cdrom_rew: moving backward in track [23]$'
clamped() { requests_after_mark | cut -f2- | grep -q -x "play 00:03:00 59:59:00"; }
poll clamped || fail "rewind never reached the start of track 1"
let_go rewButton
expect_trace "cb_cdrom_rew: moving backward in track 1"
poll scan_ended
sleep 1
[[ $(request_shape) =~ ^Pp(Ppp)+Pp$ ]] || fail "rewind steps and pauses: $(request_shape)"
steps=$(play_starts | awk 'NR > 1 && $1 != 3 && last - $1 != 15 { print "step to " $1 } NR > 1 && last == 3 && $1 != 3 { print "left the start for " $1 } { last = $1 }')
[ -z "$steps" ] || fail "rewind steps are not 15 seconds down to 00:03: $steps"
request_mark

click pauseButton
expect_trace "cb_cdrom_pause: resuming track 1"
expect_requests "resume"
exit 0
