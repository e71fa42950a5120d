#!/usr/bin/env bash
# The title bar and its dialog.
#
#  click the bar, Done         the dialog opens holding the title, so the
#                              title stays "No Title"
#  type "Jazz", Done / Return  the bar shows "Jazz" either way; Save (in
#                              program mode) stores "Title:Jazz"
#  an empty text, Return       the bar is empty; Save stores "Title:"
#  three blanks, Return        stored as "Title:   "; opened again the
#                              dialog holds nothing, so Return empties it
#  eject while the dialog is   the dialog's text becomes "No Disc", which
#  up with a draft             Done then makes the title
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
leadout 06:00:00
DISC
# (1 x 178 + 2 x 180) / 2 = 269
FILE=$INFO/cd.269

accept_title()
{
    open_title_dialog
    dialog_type "$1"
    dialog_return
    dialog_closed
}

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
snapshot titleBar "$SCRATCH/bar.notitle"

open_title_dialog
click Done
dialog_closed
expect_looks_like titleBar "$SCRATCH/bar.notitle" '"No Title"'

open_title_dialog
dialog_type "Jazz"
click Done
dialog_closed
snapshot titleBar "$SCRATCH/bar.jazz"
cmp -s "$SCRATCH/bar.jazz" "$SCRATCH/bar.notitle" && fail "the bar still shows the old title"
accept_title "No Title"
expect_looks_like titleBar "$SCRATCH/bar.notitle" '"No Title"'
accept_title "Jazz"
expect_looks_like titleBar "$SCRATCH/bar.jazz" '"Jazz"'

click pgmButton
expect_trace "cb_cdrom_program: program on"
click Save
expect_trace "program saved to $FILE"
[ "$(head -n 1 "$FILE")" = "Title:Jazz" ] || fail "saved: $(cat "$FILE")"

accept_title ""
snapshot titleBar "$SCRATCH/bar.empty"
click Save
expect_trace "program saved to $FILE"
[ "$(cat "$FILE")" = "Title:
Program: " ] || fail "saved: $(cat "$FILE")"

# Blanks draw nothing: the saved file tells them from an empty title.
accept_title "   "
click Save
expect_trace "program saved to $FILE"
[ "$(head -n 1 "$FILE")" = "Title:   " ] || fail "saved: $(cat "$FILE")"
open_title_dialog
dialog_return
dialog_closed
click Save
expect_trace "program saved to $FILE"
[ "$(head -n 1 "$FILE")" = "Title:" ] || fail "a title of blanks reopened as: $(head -n 1 "$FILE")"

# A draft is replaced by the disc's new title.  The dialog covers part
# of the main window, which is moved out from under it first.
accept_title "No Disc"
snapshot titleBar "$SCRATCH/bar.nodisc"
accept_title "Jazz"
open_title_dialog
dialog_type "Draft"
xdotool windowmove "$(shell_window)" 0 300
poll eval '[ "$(widget_geometry ejectButton | cut -d" " -f4)" -gt 300 ]' || fail "the window did not move"
click ejectButton
expect_trace "cb_cdrom_eject: ejecting on track 0" "program mode cancelled"
click Done
dialog_closed
expect_looks_like titleBar "$SCRATCH/bar.nodisc" '"No Disc"'
exit 0
