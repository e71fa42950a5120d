#!/usr/bin/env bash
# A disc image played through a real sound server from a click on Play,
# in both layouts: one BINARY file for the disc, and one WAVE file per
# track.  The disc has a made-up gap (PREGAP) before track 2 and a gap
# stored in the file (INDEX 00) before track 3.
#
# What is heard is the disc from the start of track 1 up to the frame
# before the lead-out (where the play request ends; drives do not play the
# end address), bit for bit, once, with nothing missing or repeated at the
# track boundaries;
# the end is reported once ("at end", "all done") and the player resets.
# With cycle on, the disc is heard again from track 1 after the end.
# The demo image is heard from its first track, and from its second after
# Next.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/audio.sh"

start_x
start_pulse
start_capture
blip=""
for layout in bin wave; do
    make_image "$layout" -layout "$layout" -seed 7 2 1.5/pregap:1 2/index0:0.5 1.5
    first_line=$(($(trace_lines) + 1))
    start_listened_player
    trace_mark
    heard_mark
    click playButton
    expect_trace "cdrom_play: starting track 1"
    whole="$(track_start 1) $(range_end "$(leadout)")"
    wait_heard_until "$(range_end "$(leadout)")"
    expect_trace "cdrom_atend: at end" "cdrom_atend: all done" "cdrom_play: starting track 1" \
        "cdrom_reset: forcing immediate stop"
    [ "$(heard_stretch 1)" = "$whole" ] || fail "heard $(heard), not $whole"
    # The reset after the end asks for track 1 and stops at once; a blip
    # of it must not be heard.  Checked at the end, after the rest.
    expect_silence 1
    blip+=$(heard | tail -n +2)
    ends=$(tail -n +"$first_line" "$OUT" | grep -c '^cdrom_atend: at end$')
    [ "$ends" -eq 1 ] || fail "the end was reported $ends times"
    expect_toggles playButton=off stopButton=on
    click quitButton
    wait_player_exit
    [ "$PLAYER_STATUS" -eq 0 ] || fail "quit gave status $PLAYER_STATUS"
done

# Repeat: the end starts the disc again, and again, until cycle is off.
start_listened_player
trace_mark
heard_mark
click cycleButton
expect_trace "cb_cdrom_cycle: cycle on"
click playButton
expect_trace "cdrom_play: starting track 1"
expect_trace "cdrom_atend: at end" "cdrom_atend: cycling" "cdrom_play: starting track 1"
click cycleButton
expect_trace "cb_cdrom_cycle: cycle off"
expect_trace "cdrom_atend: at end" "cdrom_atend: all done"
wait_heard_until "$(range_end "$(leadout)")"
expect_silence 1
[ "$(heard | head -n 2)" = "$whole
$whole" ] || fail "heard with cycle on: $(heard)"
blip+=$(heard | tail -n +3)
click quitButton
wait_player_exit

# The demo image that scripts/setup makes plays too: its one WAVE file
# holds the disc from its first sector.
"$MKIMAGE" demo "$SCRATCH/demo" >/dev/null || fail "mkimage could not write the demo"
IMAGE=$SCRATCH/demo/demo
# Its first 60 seconds are all that is listened for (it starts from silence).
tail -c +45 "$IMAGE.wav" | head -c $((60 * RATE * FRAME_BYTES)) >"$IMAGE.pcm"
DEVICE=$IMAGE.cue start_listened_player
trace_mark
heard_mark
click playButton
expect_trace "cdrom_play: starting track 1"
wait_heard_until 00:03:00+000
click nextButton
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
wait_heard_until 00:23:00+000
click quitButton
wait_player_exit
[[ $(heard | head -n 1) == "00:02:00+00"[0-9]" 00:"[01]* ]] &&
    [[ $(heard | sed -n 2p) == "00:22:00+00"[0-9]" 00:"[2-5]* ]] && [ "$(heard | wc -l)" -eq 2 ] ||
    fail "the demo: heard $(heard)"

note_underruns
[ ! -s "$ERR" ] || fail "error reports: $(cat "$ERR")"
[ -z "$blip" ] || fail "heard after the end, when the player reset: $blip"
exit 0
