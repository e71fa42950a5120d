#!/usr/bin/env bash
# A disc whose last track is a data track (MODE1/2352, a file of its own).
#
#  Play        the audio tracks are heard up to the first sector of the
#              data track, bit for bit, and nothing of the data track ever
#              reaches the sound card; the player comes to the end of the
#              disc and resets
#  Next, Next  (playing) to the data track: its play is refused, nothing is
#              heard, and the player carries on answering clicks
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/audio.sh"

make_image disc -seed 9 -data 3 2 4
grep -q 'MODE1/2352' "$IMAGE.cue" || fail "the disc has no data track"
T1=$(track_start 1) T2=$(track_start 2) T3=$(track_start 3)
start_x
start_pulse
start_capture
start_listened_player
expect_trace "cdrom_get_curtrack: no status"
click playButton
expect_trace "cdrom_play: starting track 1"
wait_for_trace "cdrom_atend: all done"
expect_silence 1
[ "$(heard | head -n 1)" = "$T1 $T3" ] || fail "heard $(heard), not $T1 $T3"
[ -z "$(heard | grep unmatched)" ] || fail "sound that is not the disc's audio: $(heard)"

heard_mark
trace_mark
click playButton
expect_trace "cdrom_play: starting track 1"
click nextButton
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
wait_heard_until "$(addr_plus "$T2" 1)"
click nextButton
expect_trace "cb_cdrom_next: playing track 3" "cdrom_play: starting track 3"
expect_silence 1
barrier
[ -z "$(heard | grep -v "^$T1 " | grep -v "^$T2 ")" ] || fail "heard on the data track: $(heard)"
grep -q '^ioctl(cdromplaymsftrk): Input/output error$' "$ERR" || fail "the data track's play was not refused: $(cat "$ERR")"
click quitButton
wait_player_exit
[ "$PLAYER_STATUS" -eq 0 ] || fail "quit gave status $PLAYER_STATUS"
exit 0
