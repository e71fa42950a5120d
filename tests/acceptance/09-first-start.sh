#!/usr/bin/env bash
# The first start (scripts/demo, README's first command after the setup).
#
#  no sound device     one line says so and names the simulated demo, which
#                      starts instead and plays when Play is clicked
#  a sound server      no word; the demo image starts, and after a click
#                      on Play its chords reach the sound server
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/audio.sh"

DEMO_SCRIPT=${MURBEL_SOURCE_DIR:?MURBEL_SOURCE_DIR must name the source tree}/scripts/demo
command -v aplay >/dev/null || fail "aplay is missing (alsa-utils)"
"$MKIMAGE" demo "$SCRATCH/demo" >/dev/null || fail "mkimage could not write the demo"
export MURBEL_DEMO=$SCRATCH/demo/demo.cue

start_demo()
{
    "$DEMO_SCRIPT" -debug "$@" >>"$OUT" 2>>"$ERR" &
    PLAYER_PID=$!   # the script becomes the player
    poll window_or_exit || fail "the player's window did not appear"
    player_running || fail "the player ended at start-up"
}

quit_demo()
{
    click quitButton
    wait_player_exit
    [ "$PLAYER_STATUS" = 0 ] || fail "quit ended with status $PLAYER_STATUS"
}

start_x

# No sound server behind ALSA's default device.
export HOME=$SCRATCH XDG_RUNTIME_DIR=$SCRATCH/run PULSE_SERVER=unix:$SCRATCH/no-server
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' >"$HOME/.asoundrc"
start_demo
[ "$(wc -l <"$ERR")" = 1 ] || fail "not one line: $(cat "$ERR")"
grep -Eq '^demo: no sound device answers \(.*\); .* -device sim:(.*/)?discs/demo.disc$' "$ERR" ||
    fail "the line does not say so or name the simulated demo: $(cat "$ERR")"
tr '\0' ' ' <"/proc/$PLAYER_PID/cmdline" | grep -Eq -- "-device sim:(.*/)?discs/demo.disc" ||
    fail "not the simulated demo: $(tr '\0' ' ' <"/proc/$PLAYER_PID/cmdline")"
click playButton
wait_for_trace "cdrom_play: starting track 1"
quit_demo
: >"$ERR"

# A sound server: the demo image, heard.
start_pulse
start_capture
start_demo
tr '\0' ' ' <"/proc/$PLAYER_PID/cmdline" | grep -qF -- "-device $MURBEL_DEMO" ||
    fail "not the demo image: $(tr '\0' ' ' <"/proc/$PLAYER_PID/cmdline")"
click playButton
wait_for_trace "cdrom_play: starting track 1"
sound() { "$AUDIOCMP" /dev/null "$CAPTURE" | grep -q -v '^silence'; }
POLL_SLEEP=0.25 poll sound || fail "Play was not heard"
quit_demo
[ ! -s "$ERR" ] || fail "the start with sound said: $(cat "$ERR")"
exit 0
