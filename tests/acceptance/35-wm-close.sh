#!/usr/bin/env bash
# The window manager's close, under openbox: its Alt+F4 closes the focused
# window the way its title bar's close button does, by a WM_DELETE_WINDOW
# message to a window that lists the protocol in WM_PROTOCOLS (else by
# cutting the client's connection).
#
#  start-up                  the main window lists WM_DELETE_WINDOW
#  the title dialog opened,  it lists WM_DELETE_WINDOW too; Alt+F4 closes
#  "Let It Be" typed, Alt+F4 it as a Cancel would: the title stays "Abbey
#                            Road" (the window's title shows it), nothing
#                            is traced, the player runs on
#  the dialog again, Done    the typed title is taken (the check above
#                            could fail)
#  Alt+F4 on the main        the quit button's trace "cb_cdrom_quit: bye",
#  window, while playing     exit status 0, nothing on standard error
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 04:10:33
track 3 07:00:00
leadout 10:30:12
DISC
printf 'Title:Abbey Road\nProgram: \n' >"$INFO/cd.406"

start_x
start_wm
start_player
expect_trace "cdrom_get_curtrack: no status"
expect_window_title "Abbey Road"

has_focus() { [ "$(focus_window)" = "$1" ]; }
takes_part() { xprop -id "$1" WM_PROTOCOLS 2>/dev/null | grep -q 'WM_DELETE_WINDOW'; }
main=$(shell_window)
[ -n "$main" ] || fail "no main window"
takes_part "$main" || fail "the main window does not list WM_DELETE_WINDOW: $(xprop -id "$main" WM_PROTOCOLS)"
poll has_focus "$main" || fail "openbox did not focus the main window"

click playButton
expect_trace "cdrom_play: starting track 1"

open_title_dialog
dialog=$(title_shell)
[ -n "$dialog" ] || fail "no title dialog window"
takes_part "$dialog" || fail "the title dialog does not list WM_DELETE_WINDOW"
dialog_type "Let It Be"
poll has_focus "$dialog" || fail "openbox did not focus the title dialog"
xdotool mousemove 1010 750
trace_mark
key alt+F4
dialog_closed
barrier
expect_no_trace
player_running || fail "the player ended with the dialog's close"
expect_window_title "Abbey Road"

open_title_dialog
dialog_type "Let It Be"
dialog_return
dialog_closed
expect_window_title "Let It Be"

poll has_focus "$main" || fail "the main window did not get the focus back (focus $(focus_window))"
xdotool mousemove 1010 750
key alt+F4
wait_player_exit
[ "$PLAYER_STATUS" = 0 ] || fail "exit status $PLAYER_STATUS after the window manager's close"
expect_trace "cb_cdrom_quit: bye"
[ -s "$ERR" ] && fail "unexpected error reports: $(cat "$ERR")"
exit 0
