#!/usr/bin/env bash
# The keyboard: every binding does what a click on its button does (the
# same trace, drive requests and button looks), and the title dialog takes
# the keys while it is up.
#
# With no window manager (here) the keys go to the window under the
# pointer, which visits the logo, the buttons, the title bar and the
# volume.  28-keys-openbox runs the same under openbox, which gives the
# window the focus: the pointer then stays outside it.
#
#  space, space, XF86AudioPlay   play; pause; resume
#  n, Right, Left, p,            next, next, previous, previous (a huge
#  XF86AudioNext, XF86AudioPrev  replay threshold: always back a track)
#  >, >, Shift+Left, Shift+Left  fast-forward on, off; rewind on, off;
#  and the other scan keys       so too <, Shift+Right and the media keys
#  XF86AudioPause twice          pause, resume
#  r, r, XF86AudioLowerVolume,   cycle on, off; the volume down and up
#  XF86AudioRaiseVolume
#  s, z, z, g                    stop; shuffle on, off; program mode
#  t, "Kind of Blue", Return     the dialog opens with "No Title"
#                                selected: typing replaces it; "s" typed
#                                over the main window lands in the text
#  click the bar, type at once   the dialog takes the keys at once
#  XF86AudioStop, e, XF86Eject   stop (already stopped); eject; eject
#                                again (no disc: only the error line)
#  q                             quit (exit status 0)
source "$(dirname "$0")/lib.sh"

make_three_track_disc
WITH_WM=${WITH_WM:-0}

start_x
[ "$WITH_WM" = 1 ] && start_wm
start_player -xrm '*replayThreshold: 10000'
expect_trace "cdrom_get_curtrack: no status"
request_mark

# Where the keys are typed: over a widget of the window, or, under the
# window manager, with the window focused and the pointer off it.
aim()
{
    if [ "$WITH_WM" = 1 ]; then
        xdotool mousemove 1010 750
        focused() { [ "$(focus_window)" = "$(shell_window)" ]; }
        poll focused || fail "the window does not have the focus"
    else
        read -r x y < <(widget_center "$1")
        xdotool mousemove "$x" "$y"
    fi
}

if [ "$WITH_WM" = 1 ]; then
    # The window manager focuses the new window by itself.
    focused() { [ "$(focus_window)" = "$(shell_window)" ]; }
    poll focused || fail "openbox did not focus the window (focus $(focus_window))"
fi

aim logoLabel
key space
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"
expect_toggles playButton=on stopButton=off
aim playButton
key space
expect_trace "cb_cdrom_pause: pausing on track 1"
expect_requests "pause"
expect_toggles pauseButton=on playButton=on
key XF86AudioPlay
expect_trace "cb_cdrom_pause: resuming track 1"
expect_requests "resume"
expect_toggles pauseButton=off playButton=on

aim titleBar
key n
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
expect_requests "play 03:00:00 08:59:74"
key Right
expect_trace "cb_cdrom_next: playing track 3" "cdrom_play: starting track 3"
key Left
expect_trace "cb_cdrom_previous: playing track 2" "cdrom_play: starting track 2"
key p
expect_trace "cb_cdrom_previous: playing track 1" "cdrom_play: starting track 1"
key XF86AudioNext
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
key XF86AudioPrev
expect_trace "cb_cdrom_previous: playing track 1" "cdrom_play: starting track 1"
expect_toggles prevButton=off nextButton=off

# The scan keys are the scan buttons: one press holds on, the next lets go.
aim ffButton
key greater
wait_for_trace "cb_cdrom_ff: moving forward in track 1"
expect_toggles ffButton=on
key greater
wait_for_trace "cb_cdrom_ff: moving forward in track 1"
expect_toggles ffButton=off
key shift+Left
wait_for_trace_matching '^cb_cdrom_rew: moving backward in track [0-9]+$'
expect_toggles rewButton=on
key shift+Left
wait_for_trace_matching '^cb_cdrom_rew: moving backward in track [0-9]+$'
expect_toggles rewButton=off
for pair in "less rew backward rewButton" "XF86AudioRewind rew backward rewButton" \
    "shift+Right ff forward ffButton" "XF86AudioForward ff forward ffButton"; do
    read -r k cb way button <<<"$pair"
    key "$k"
    wait_for_trace_matching "^cb_cdrom_$cb: moving $way in track [0-9]+\$"
    expect_toggles $button=on
    key "$k"
    wait_for_trace_matching "^cb_cdrom_$cb: moving $way in track [0-9]+\$"
    expect_toggles $button=off
done
key XF86AudioPause
wait_for_trace_matching '^cb_cdrom_pause: pausing on track [0-9]+$'
expect_toggles pauseButton=on
key XF86AudioPause
wait_for_trace_matching '^cb_cdrom_pause: resuming track [0-9]+$'
expect_toggles pauseButton=off

aim volumeScrollbar
key r
wait_for_trace "cb_cdrom_cycle: cycle on"
expect_toggles cycleButton=on
key r
wait_for_trace "cb_cdrom_cycle: cycle off"
expect_toggles cycleButton=off
key XF86AudioLowerVolume
wait_for_trace_matching '^volume=[0-9]+$'
down=${TRACE_MATCH#volume=}
[ "$down" -lt 238 ] || fail "the volume went from 238 to $down"
key XF86AudioRaiseVolume
wait_for_trace_matching '^volume=[0-9]+$'
[ "${TRACE_MATCH#volume=}" -gt "$down" ] || fail "the volume went from $down to ${TRACE_MATCH#volume=}"

aim stopButton
key s
wait_for_trace "cb_cdrom_stop: resetting disc"
expect_trace "cdrom_play: starting track 1" "cdrom_reset: forcing immediate stop"
expect_toggles stopButton=on playButton=off
key z
expect_trace "cb_cdrom_shuffle: shuffle on"
expect_toggles shuffleButton=on
key z
wait_for_trace "cb_cdrom_shuffle: shuffle off"
expect_toggles shuffleButton=off
key g
expect_trace "cb_cdrom_program: program on"
poll widget_viewable programForm || fail "no program window"

# The title: t opens the dialog with its text selected; typing replaces it.
aim pgmButton
key t
poll widget_viewable dialogValue || fail "t did not open the title dialog"
dialog_focused() { [ "$(focus_window)" = "$(title_shell)" ]; }
[ "$WITH_WM" = 1 ] && { poll dialog_focused || fail "openbox did not focus the dialog"; }
xdotool type --delay 20 "Kind of Blue"
# A key typed in the main window lands in the text, not on a binding.
if [ "$WITH_WM" = 1 ]; then
    xdotool windowactivate --sync "$(shell_window)"
else
    aim stopButton
fi
key s
key Return
dialog_closed
barrier
[ "$(trace_count "cb_cdrom_stop: already stopped")" = 0 ] || fail "s reached Stop while the dialog was up"
click Save
wait_for_trace_matching '^program saved to '
FILE=${TRACE_MATCH#program saved to }
[ "$(head -n 1 "$FILE")" = "Title:Kind of Blues" ] || fail "saved: $(cat "$FILE")"

# Typed straight after the click on the bar, a title lands in the dialog.
click titleBar
poll widget_viewable dialogValue || fail "the title dialog did not open"
[ "$WITH_WM" = 1 ] && { poll dialog_focused || fail "openbox did not focus the dialog"; }
xdotool type --delay 20 "Blue Train"
key Return
dialog_closed
click Save
expect_trace "program saved to $FILE"
[ "$(head -n 1 "$FILE")" = "Title:Blue Train" ] || fail "saved: $(cat "$FILE")"

aim ejectButton
key XF86AudioStop
wait_for_trace "cb_cdrom_stop: already stopped"
expect_toggles stopButton=off
key e
wait_for_trace "cb_cdrom_eject: ejecting on track 0"
expect_toggles ejectButton=on
key XF86Eject
wait_for_trace "cb_cdrom_eject: error from cdrom_open"
aim logoLabel
key q
wait_player_exit
[ "$PLAYER_STATUS" = 0 ] || fail "quit ended with status $PLAYER_STATUS"
exit 0
