#!/usr/bin/env bash
# The transport buttons heard through a sound server, on a disc of four
# 8-second tracks (one BINARY file), Previous always going back a track
# (replayThreshold 100).
#
#  Play, Pause, Pause   the disc from track 1; the pause stops the sound and
#                       the resume goes on from the very next sample: no
#                       sample lost or repeated
#  Next, Previous       (playing) the sound jumps to the first sample of
#                       the track they name, and plays on from there
#  FF held and let go   (playing) each of the three jumps starts one
#                       second after the position the player read, on the
#                       first sample of that sector: the position the
#                       player reads is what was heard, within a sector and
#                       the device's delay
#  Program 3, 1, Play   track 3 alone, then track 1 alone, each up to the
#                       frame before the next track, then "all done"
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/audio.sh"

make_image disc -seed 11 8 8 8 8
T1=$(track_start 1) T2=$(track_start 2) T3=$(track_start 3) T4=$(track_start 4)
start_x
start_pulse
start_capture
start_listened_player -xrm '*scanPauseInterval: 3' -xrm '*replayThreshold: 100'
expect_trace "cdrom_get_curtrack: no status"

click playButton
expect_trace "cdrom_play: starting track 1"
wait_heard_until "$(addr_plus "$T1" 2)"
click pauseButton
expect_trace "cb_cdrom_pause: pausing on track 1"
expect_silence 1
[ "$(heard | wc -l)" -eq 1 ] && [ "$(heard_stretch 1 from)" = "$T1" ] || fail "before the pause: $(heard)"
paused_at=$(heard_stretch 1 to)
click pauseButton
expect_trace "cb_cdrom_pause: resuming track 1"
wait_heard_until "$(addr_plus "$T2" 1)"
# Resumed where it paused: one stretch of the disc.
[ "$(heard | wc -l)" -eq 1 ] || fail "paused at $paused_at, then heard $(heard)"

click nextButton
expect_trace "cb_cdrom_next: playing track 3" "cdrom_play: starting track 3"
wait_heard_until "$(addr_plus "$T3" 1)"
[ "$(heard_stretch 2 from)" = "$T3" ] || fail "Next: heard $(heard_stretch 2), not from $T3"
[ "$(heard_stretch 1 to)" \< "$T3" ] || fail "Next: track 2 ran on to $(heard_stretch 1 to)"
click prevButton
expect_trace "cb_cdrom_previous: playing track 2" "cdrom_play: starting track 2"
wait_heard_until "$(addr_plus "$T2" 1)"
[ "$(heard_stretch 3 from)" = "$T2" ] || fail "Previous: heard $(heard_stretch 3), not from $T2"

# Held on, the button steps at the click and at the next play tick, which
# comes again only after scanPauseInterval (3 s here); let go, it steps
# once more: at least three jumps heard for a while (the click's own may
# be cut off unheard by the first tick's).
click ffButton
expect_trace "cb_cdrom_ff: moving forward in track 2"
tick_step() { [ "$(heard | wc -l)" -ge 5 ]; }
poll tick_step || fail "no jump at the play tick: $(heard)"
wait_heard_until "$(addr_plus "$(heard | tail -n 1 | cut -d' ' -f1)" 1)"
click ffButton
wait_for_trace_matching '^cb_cdrom_ff: moving forward in track [0-9]+$'
poll eval '[ "$(heard | wc -l)" -ge 6 ]' || fail "no jump when the button was let go: $(heard)"
wait_heard_until "$(addr_plus "$(heard | tail -n 1 | cut -d' ' -f1)" 1)"
stretches=$(heard | wc -l)
[ "$stretches" -ge 6 ] || fail "fast-forward: no three jumps heard: $(heard)"
# The position read is whole sectors; the sink's monitor hears a little
# ahead of the device's clock; the device's delay is not known from
# outside: the two agree within a sector and LAG frames (0.1 s) each way.
LAG=${POSITION_LAG_FRAMES:-$((RATE / 10))}
for n in $(seq 4 "$stretches"); do
    from=$(heard_stretch "$n" from)
    [ "${from#*+}" = 000 ] || fail "fast-forward jumped to $from, inside a sector"
    before=$(addr_frames "$(heard_stretch $((n - 1)) to)")
    read_at=$(($(addr_frames "$from") - 75 * SECTOR_FRAMES))
    off=$((before - read_at))
    # The first tick's step, within 250 ms, may drop the click's unheard:
    # it then read the click's target, a second on from what was heard.
    [ "$n" -eq 4 ] && [ $off -lt $((-LAG)) ] && off=$((off + 75 * SECTOR_FRAMES))
    note "jump $((n - 3)): heard up to $(heard_stretch $((n - 1)) to), position read $(frames_addr $read_at): $off frames"
    [ $off -ge $((-LAG)) ] && [ $off -le $((SECTOR_FRAMES + LAG)) ] ||
        fail "the position read ($(frames_addr $read_at)) is not what was heard ($(heard_stretch $((n - 1)) to))"
done
click quitButton
wait_player_exit

# Program mode: 3, 1.
start_listened_player
heard_mark
trace_mark
click pgmButton
expect_trace "cb_cdrom_program: program on"
poll widget_shown programForm || fail "no program window"
click 3
expect_trace "adding track 3 to program"
click 1
expect_trace "adding track 1 to program"
click playButton
expect_trace "cb_cdrom_play: resetting timer button" "cdrom_play: starting track 3"
expect_trace "cdrom_atend: at end" "cdrom_play: starting track 1"
expect_trace "cdrom_atend: at end" "cdrom_atend: all done"
expect_silence 1
[ "$(heard | head -n 2)" = "$T3 $(range_end "$T4")
$T1 $(range_end "$T2")" ] || fail "program 3, 1: heard $(heard)"
note_underruns
exit 0
