#!/usr/bin/env bash
# Disc names from a local CDDB (xmcd) file, and the order of trust.
#
# The disc's tracks start at 0:02:00, 4:10:33 and 7:00:00, its lead-out at
# 10:30:12: freedb disc ID 0f027403.  Its xmcd file sits in the category
# folder "jazz" of the second cddbPath directory, written in Latin-1 with
# its album title continued on a second DTITLE line.
#  start-up         "names: cddb <file>"; the title bar shows "Miles Davis
#                   - Kind of Blue" (the same ink as that text typed as a
#                   title), the window's title "Kind of Blue"
#  Next, Play, ...  the window's title follows the track: "1. So What -
#                   Kind of Blue", "2. Freddie ...", Stop: "Kind of Blue"
#  Save untitled    the information file holds "Title:No Title", as ever,
#                   and a new player still shows the names
#  a typed title    wins on the bar and in the window's title, is saved,
#                   and wins in the next player too
#  another file     with the same ID but four tracks is another disc's
#                   and is passed over for the right one
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 04:10:33
track 3 07:00:00
leadout 10:30:12
speed 10
DISC
FILE=$INFO/cd.406
CDDB=$SCRATCH/cddb
mkdir -p "$CDDB/jazz" "$CDDB/blues" "$SCRATCH/empty"
# Sorted first, a file of another disc under the same ID.
printf '# xmcd\n#\n# Track frame offsets:\n#\t150\n#\t1000\n#\t2000\n#\t3000\n#\nDISCID=0f027403\nDTITLE=Wrong / Disc\nTTITLE0=Wrong\n' \
    >"$CDDB/blues/0f027403"
printf '%s\n' '# xmcd' '#' '# Track frame offsets:' '#	150' '#	18783' '#	31500' '#' \
    '# Disc length: 630 seconds' '#' 'DISCID=0f027403' 'DTITLE=Miles Davis / Kind of' \
    'DTITLE= Blue' 'DYEAR=1959' 'TTITLE0=So What' 'TTITLE1=Freddie ' 'TTITLE1=Freeloader' \
    'TTITLE2=Blue in Gr\351en' 'EXTD=' 'PLAYORDER=' | sed 's/\\351/\xe9/' >"$CDDB/jazz/0f027403"
CDDBPATH=(-xrm "*cddbPath: $SCRATCH/empty:$CDDB")

accept_title()
{
    open_title_dialog
    dialog_type "$1"
    dialog_return
    dialog_closed
}

start_x
start_player "${CDDBPATH[@]}"
expect_trace "cdrom_get_curtrack: no status"
wait_for_trace "names: cddb $CDDB/jazz/0f027403"
expect_window_title "Kind of Blue"
settled_ink titleBar "$SCRATCH/ink.names"

click nextButton
expect_trace "cb_cdrom_next: stopped on track 1"
expect_window_title "1. So What - Kind of Blue"
click playButton
expect_trace "cdrom_play: starting track 1"
click nextButton
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
expect_window_title "2. Freddie Freeloader - Kind of Blue"
# Played on by the drive into the last track, whose name is Latin-1.
expect_window_title "3. Blue in Gréen - Kind of Blue"
click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" "cdrom_reset: forcing immediate stop"
expect_window_title "Kind of Blue"

# Saving a program without a title stores what it always did.
click pgmButton
expect_trace "cb_cdrom_program: program on"
click Save
expect_trace "program saved to $FILE"
[ "$(cat "$FILE")" = "Title:No Title
Program: " ] || fail "saved: $(cat "$FILE")"
expect_ink_like titleBar "$SCRATCH/ink.names" '"Miles Davis - Kind of Blue"'
click quitButton
wait_player_exit

start_player "${CDDBPATH[@]}"
trace_mark
expect_window_title "Kind of Blue"
expect_ink_like titleBar "$SCRATCH/ink.names" '"Miles Davis - Kind of Blue" after a restart'

# The names' text typed as the title draws the same ink: the bar showed
# exactly "Miles Davis - Kind of Blue".
accept_title "Miles Davis - Kind of Blue"
expect_ink_like titleBar "$SCRATCH/ink.names" 'the typed names'
accept_title "My Jazz"
settled_ink titleBar "$SCRATCH/ink.mine"
cmp -s "$SCRATCH/ink.mine" "$SCRATCH/ink.names" && fail "the typed title did not win on the bar"
expect_window_title "My Jazz"
click nextButton
expect_window_title "1. So What - My Jazz"
click pgmButton
click Save
wait_for_trace "program saved to $FILE"
[ "$(head -n 1 "$FILE")" = "Title:My Jazz" ] || fail "saved: $(cat "$FILE")"
click quitButton
wait_player_exit

start_player "${CDDBPATH[@]}"
expect_window_title "My Jazz"
expect_ink_like titleBar "$SCRATCH/ink.mine" '"My Jazz" after a restart'
exit 0
