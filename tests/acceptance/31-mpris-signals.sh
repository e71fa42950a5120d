#!/usr/bin/env bash
# What the desktop hears: PropertiesChanged follows the user's clicks on
# the window, Seeked follows a jump; a second Murbel on the bus takes a
# name of its own; without a session bus the player starts as before.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/bus.sh"

make_three_track_disc

start_x
start_bus
start_player
wait_on_bus
start_monitor

click playButton
expect_trace "cdrom_play: starting track 1"
expect_signal PlaybackStatus 'string "Playing"'
expect_signal Metadata '/org/murbel/disc/[0-9]+/track/1'

click cycleButton
expect_trace "cb_cdrom_cycle: cycle on"
expect_signal LoopStatus 'string "Playlist"'

click nextButton
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
expect_signal Metadata '/org/murbel/disc/[0-9]+/track/2'
# On to the last track: a scan there stays within the track.
click nextButton
expect_trace "cb_cdrom_next: playing track 3" "cdrom_play: starting track 3"
expect_signal Metadata '/org/murbel/disc/[0-9]+/track/3'
# Steady play is no jump, however often the player looks.
sleep 3
grep -q 'member=Seeked' "$SCRATCH/monitor" && fail "Seeked during steady play"

# Fast-forward while playing: steps of a second four times as often as
# the clock moves, which the desktop hears as Seeked.
hold ffButton
wait_for_trace "cb_cdrom_ff: moving forward in track 3"
expect_seeked
let_go ffButton
wait_for_trace "cb_cdrom_ff: moving forward in track 3"
pctl position 100
wait_for_trace "cdrom_seek: moving to 01:40 in track 3"
expect_seeked

click pauseButton
expect_trace "cb_cdrom_pause: pausing on track 3"
expect_signal PlaybackStatus 'string "Paused"'

# A drag on the volume bar: the thumb's place is the volume.
read -r x y < <(widget_point volumeScrollbar 5 4)
xdotool mousemove "$x" "$y" mousedown 2 mouseup 2
wait_for_trace_matching '^volume=[0-9]+$'
expect_signal Volume 'double 0\.0'

click stopButton
expect_signal PlaybackStatus 'string "Stopped"'
expect_signal Metadata 'NoTrack'

# A second player on the same bus.
second_out=$SCRATCH/second.out
"$MURBEL" -debug -device "sim:$DISC" -cdInfoDir "$INFO" >"$second_out" 2>&1 &
second=$!
second_named() { grep -qx "mpris: on the session bus as $MPRIS.murbel.instance$second" "$second_out"; }
poll second_named || { kill $second; fail "the second player's name: $(cat "$second_out")"; }
busctl --user list | grep -q "^$MPRIS.murbel " || { kill $second; fail "the first name went"; }
playerctl -l | grep -qx "murbel.instance$second" || { kill $second; fail "playerctl does not see it"; }
end_process $second "the second player"

# Without a session bus: nothing said, unless -debug.
for debug in "" -debug; do
    out=$SCRATCH/nobus$debug.out
    err=$SCRATCH/nobus$debug.err
    DBUS_SESSION_BUS_ADDRESS=unix:path=$SCRATCH/no-bus XDG_RUNTIME_DIR=$SCRATCH/no-dir \
        "$MURBEL" $debug -device "sim:$DISC" -cdInfoDir "$INFO" >"$out" 2>"$err" &
    nobus=$!
    nobus_up() { [ -n "$(windows_of $nobus murbel)" ]; }
    poll nobus_up || { kill $nobus; fail "no window without a bus"; }
    if [ -n "$debug" ]; then
        why="mpris: no session bus: unix:path=$SCRATCH/no-bus: No such file or directory"
        poll grep -qxF "$why" "$out" || { kill $nobus; fail "no word of the bus: $(cat "$out")"; }
    else
        sleep 0.5
        [ -s "$out" ] || [ -s "$err" ] && { kill $nobus; fail "said something: $(cat "$out" "$err")"; }
    fi
    kill -0 $nobus || fail "the player without a bus ended"
    end_process $nobus "the player without a bus"
done
exit 0
