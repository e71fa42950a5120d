#!/usr/bin/env bash
# The disc information file: stored title and program, Save, and a save
# that cannot be written.
#
# The disc's tracks last 248, 170 and 210 seconds, so its file is cd.406
# in the information directory.  The file holds "Title:Greatest Hits" and
# "Program: 3-1-3-2".
#  start-up        the title bar shows "Greatest Hits"
#  Program button  "using stored program": four selections
#  Save            writes exactly the two lines back
#  new title, program 2, Save   "Title:Live" and "Program: 2"
#  Save when the directory has become a regular file: "Can't open save
#                  file" and the system's reason on stderr, no "saved"
#                  line, and the file written before is intact
#  Clear, Save     an empty program is written as "Program: " alone
#  a new player    (the directory named by MURBELINFODIR this time) shows
#                  the title "Live" and starts program mode empty
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 04:10:33
track 3 07:00:00
leadout 10:30:12
DISC
FILE=$INFO/cd.406
printf 'Title:Greatest Hits\nProgram: 3-1-3-2\n' >"$FILE"

file_is()
{
    [ "$(od -c "$2")" = "$(printf "$1" | od -c)" ] || fail "$2 holds:
$(cat "$2")"
}

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"

# The bar shows the stored title: typing it again changes nothing, a
# different title changes the bar.
snapshot titleBar "$SCRATCH/bar.start"
open_title_dialog
dialog_type "Greatest Hitz"
dialog_return
dialog_closed
snapshot titleBar "$SCRATCH/bar.other"
cmp -s "$SCRATCH/bar.start" "$SCRATCH/bar.other" && fail "the title bar ignores the title"
open_title_dialog
dialog_type "Greatest Hits"
dialog_return
dialog_closed
expect_looks_like titleBar "$SCRATCH/bar.start" '"Greatest Hits"'

click pgmButton
expect_trace "cb_cdrom_program: program on" "using stored program"
poll eval '[ "$(selection_count)" = 4 ]' || fail "$(selection_count) selections, not 4"

click Save
expect_trace "program saved to $FILE"
file_is 'Title:Greatest Hits\nProgram: 3-1-3-2\n' "$FILE"

click Clear
expect_trace "program cleared"
click 2
expect_trace "adding track 2 to program"
open_title_dialog
dialog_type "Live"
dialog_return
dialog_closed
snapshot titleBar "$SCRATCH/bar.live"
click Save
expect_trace "program saved to $FILE"
file_is 'Title:Live\nProgram: 2\n' "$FILE"

# The directory becomes a regular file, which fails even for root.
mv "$INFO" "$INFO.moved"
echo "not a directory" >"$INFO"
: >"$ERR"
click Save
barrier
[ "$(trace_count "program saved to $FILE")" = 2 ] || fail "a failed save was reported as saved"
[ "$(cat "$ERR")" = "Can't open save file $FILE
cb_save_program: Not a directory" ] || fail "stderr: $(cat "$ERR")"
file_is 'Title:Live\nProgram: 2\n' "$INFO.moved/cd.406"
rm "$INFO"
mv "$INFO.moved" "$INFO"

click Clear
expect_trace "program cleared"
click Save
expect_trace "program saved to $FILE"
file_is 'Title:Live\nProgram: \n' "$FILE"
click quitButton
wait_player_exit

# A second player, finding the directory through the environment.
MURBELINFODIR=$INFO NO_CDINFODIR=1 start_player
trace_mark
expect_looks_like titleBar "$SCRATCH/bar.live" '"Live"'
click pgmButton
expect_trace "cb_cdrom_program: program on"
barrier
[ "$(selection_count)" = 0 ] || fail "an empty stored program gave selections"
click Save
expect_trace "program saved to $FILE"
exit 0
