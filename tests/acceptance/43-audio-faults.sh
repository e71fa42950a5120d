#!/usr/bin/env bash
# Faults of the source and the sound device.
#
#  A source that stalls for 5 s (MURBEL_AUDIO_STALL stops the reader once
#  before a sector): while it stalls the window answers clicks and the
#  play timer keeps turning the indicator; afterwards the sound goes on
#  from the very sample where it stopped, with no stale sound and nothing
#  repeated.
#  A cue sheet naming a missing file, and a malformed cue sheet: one clear
#  line naming the sheet (and the missing file), however many times the
#  poll tries again (each try is reported as any drive's failed open);
#  the player runs on with no disc and Quit ends it normally.
#  An audio device that cannot be opened: Play gives one line naming the
#  device (besides the refused play request's own report), and the player
#  carries on.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/audio.sh"

make_image disc -seed 5 3 3
start_x
start_pulse
start_capture

# The stall comes by 0.4 s into track 1 (before sector 30 from the
# first), before the reader can have run far ahead of the sound.
MURBEL_AUDIO_STALL=30:5000 start_listened_player
expect_trace "cdrom_get_curtrack: no status"
# Found now: there is little time to look during the stall.
read -r cx cy < <(widget_center cycleButton)
leds=$(widget ledsLabel)
click playButton
expect_trace "cdrom_play: starting track 1"
# The reader stops at or before that sector (it reads in blocks): wait
# for the sound to stop.
stopped() { listen; [ -n "$(LISTENED_ONLY=1 heard)" ] && [ "$(LISTENED_ONLY=1 trailing_silence)" -ge $((RATE / 4)) ]; }
POLL_SLEEP=0.25 poll stopped || fail "the sound did not stop at the stall: $(heard)"
stalled_at=$(heard | tail -n 1 | cut -d' ' -f2)
[[ ! $stalled_at > 00:02:30+000 ]] || fail "the sound went past the stall, to $stalled_at"
# While it is silent: a click is answered and the indicator turns.  That
# this came before the sound went on is checked afterwards, in the
# recording.
xwd -silent -id "$leds" >"$SCRATCH/leds.a" || fail "no picture of the indicator"
turned() { xwd -silent -id "$leds" >"$SCRATCH/leds.b" && ! cmp -s "$SCRATCH/leds.a" "$SCRATCH/leds.b"; }
poll turned || fail "the indicator stopped turning while the source stalled"
xdotool mousemove "$cx" "$cy" click 1
expect_trace "cb_cdrom_cycle: cycle on"
checked_at=$(capture_frames)
click cycleButton
expect_trace "cb_cdrom_cycle: cycle off"
expect_trace "cdrom_atend: at end" "cdrom_atend: all done"
expect_silence 1
# One stretch of the disc: the sound went on from the very sample where
# it stopped, nothing lost or repeated.
[ "$(heard | head -n 1)" = "$(track_start 1) $(range_end "$(leadout)")" ] || fail "around the stall: $(heard)"
listen
resumed_at=$(awk -v at="$stalled_at" '$1 == "audio" && $4 == at { print $2; exit }' <<<"$LISTENED")
[ -n "$resumed_at" ] || fail "no silence at $stalled_at: $LISTENED"
[ "$resumed_at" -gt "$checked_at" ] ||
    fail "the sound went on (at frame $resumed_at) before the checks were done (frame $checked_at)"
note "stall at $stalled_at: sound again at frame $resumed_at of the recording; clicks answered by frame $checked_at"
grep -q '^audio: underrun 1$' "$OUT" || fail "the starved device was not traced as an underrun"
click quitButton
wait_player_exit
[ "$PLAYER_STATUS" -eq 0 ] || fail "quit gave status $PLAYER_STATUS"
: >"$ERR"

# Sheets that cannot be played.
sed 's/disc\.bin/nothere.bin/' "$IMAGE.cue" >"$SCRATCH/image/missing.cue"
printf 'FILE "disc.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:99:00\n  TRACK banana\n' \
    >"$SCRATCH/image/malformed.cue"
# The poll's line may come between any two others.
TRACE_IGNORE='^(audio: underrun [0-9]+|cdrom_open: cdrom not ready|names: .*)$'
for sheet in missing malformed; do
    DEVICE=$SCRATCH/image/$sheet.cue start_listened_player
    trace_mark
    # The poll tries the drive every second while there is no disc.
    wait_for_trace "cdrom_open: cdrom not ready"
    wait_for_trace "cdrom_open: cdrom not ready"
    click playButton
    expect_trace "cb_cdrom_play: error from cdrom_open"
    barrier
    # Each failed open is reported as any drive's ("SHEET: reason"); the
    # reason itself is told once, in a line of its own.
    path=$SCRATCH/image/$sheet.cue
    told=$(grep -v -x -F -e "$path: Invalid argument" -e "$path: No medium found" \
        -e "$path: No such file or directory" -e "$path: Input/output error" "$ERR")
    [ "$(grep -c . <<<"$told")" -eq 1 ] || fail "$sheet sheet: not one line telling why: $(cat "$ERR")"
    grep -q -F "$path" <<<"$told" || fail "$sheet sheet: the line does not name the sheet: $told"
    [ $sheet = malformed ] || grep -q nothere.bin <<<"$told" || fail "the missing file is not named: $told"
    note "$sheet sheet: $told"
    click quitButton
    wait_player_exit
    [ "$PLAYER_STATUS" -eq 0 ] || fail "$sheet sheet: quit gave status $PLAYER_STATUS"
    : >"$ERR"
done

# A sound device that does not exist.
start_listened_player -audioDevice nosuchdevice
trace_mark
click playButton
expect_trace "cdrom_play: starting track 1"
has_report() { grep -q nosuchdevice "$ERR"; }
poll has_report || fail "no report of the device"
barrier
[ "$(grep -c nosuchdevice "$ERR")" -eq 1 ] || fail "the device is reported more than once: $(cat "$ERR")"
others=$(grep -v nosuchdevice "$ERR" | grep -v -E '^ioctl\([a-z]+\): Input/output error$' || true)
[ -z "$others" ] || fail "more than one line about the device: $(cat "$ERR")"
note "device: $(cat "$ERR")"
click quitButton
wait_player_exit
[ "$PLAYER_STATUS" -eq 0 ] || fail "quit gave status $PLAYER_STATUS"
[ -z "$(heard | tail -n +3)" ] || fail "sound from a device that does not exist: $(heard)"
exit 0
