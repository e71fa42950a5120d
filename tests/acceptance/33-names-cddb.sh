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
#  an enhanced CD   (ten audio tracks and a data session, "track 11 ...
#                   data"): its file is found under the freedb ID that
#                   counts the data track too; Play plays the audio to
#                   where the data session begins (11,400 sectors before
#                   it) and ends there, as a drive does, with no report
#  a disc image     with "Cover.JPG" beside it, in a folder whose name has
#                   a blank and a non-ASCII letter: playerctl reads it as
#                   mpris:artUrl, a file:// URL percent-encoded
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/bus.sh"

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
click quitButton
wait_player_exit

# "Liquid" by Recoil (its table of contents from ARver's notes on data
# tracks); the CDDB file under 9e11600b, as EAC names it.
make_disc <<'DISC'
track 1 00:02:00
track 2 02:50:17
track 3 08:59:62
track 4 14:03:00
track 5 20:45:35
track 6 26:14:65
track 7 33:44:65
track 8 40:57:65
track 9 47:50:10
track 10 54:59:30
track 11 62:36:35 data
leadout 74:10:51
speed 400
DISC
{
    echo 'DISCID=9e11600b'
    echo 'DTITLE=Recoil / Liquid'
    for t in 0 1 2 3 4 5 6 7 8 9; do echo "TTITLE$t=Track $((t + 1))"; done
    echo 'TTITLE10=Data'
} >"$CDDB/misc-9e11600b"
mkdir -p "$CDDB/misc" && mv "$CDDB/misc-9e11600b" "$CDDB/misc/9e11600b"
trace_mark
request_mark
start_player "${CDDBPATH[@]}"
wait_for_trace "names: cddb $CDDB/misc/9e11600b"
expect_window_title "Liquid"
trace_mark
request_mark
click playButton
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 74:10:50"
wait_for_trace "cdrom_atend: all done"
[ ! -s "$ERR" ] || fail "reports at the end of the audio: $(cat "$ERR")"
click quitButton
wait_player_exit

# A disc image and the cover a ripping program saved beside it.
start_bus
RIPS="$SCRATCH/My Rips/Bj\303\266rk"
RIPS=$(printf "$RIPS")
mkdir -p "$RIPS"
"$(dirname "$MURBEL")/tools/mkimage" noise "$RIPS" post 2 2 >/dev/null || fail "mkimage failed"
printf 'back' >"$RIPS/back.jpg"
printf '\377\330\377\340 front' >"$RIPS/Cover.JPG"
trace_mark
DEVICE="$RIPS/post.cue" start_player -audioDevice "wav:$SCRATCH/heard.wav" "${CDDBPATH[@]}"
wait_for_trace "names: cover $RIPS/Cover.JPG"
expect_pctl "file://$SCRATCH/My%20Rips/Bj%C3%B6rk/Cover.JPG" metadata mpris:artUrl
click quitButton
wait_player_exit
exit 0
