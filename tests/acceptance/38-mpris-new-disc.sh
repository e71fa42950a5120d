#!/usr/bin/env bash
# A new disc is a new list of tracks for the desktop: the track ids change
# whenever a disc image comes in, so that a client waiting for the id to
# change (after OpenUri) or holding one (SetPosition) is never fooled by
# track 1 of the disc before.  The image (three tracks of noise) plays
# into a WAV file, with no sound server.
#  Play                         track 1 has an id
#  Eject, the cue sheet touched the image comes back (the poll): Play, and
#                               track 1 has another id; SetPosition with
#                               the old id is ignored, with the new one
#                               it moves
#  OpenUri of the same sheet    another id again, playing
#  the sheet replaced while     the play stops and the new disc is read
#  playing (another image       (two tracks, its own title); Play, and
#  renamed over it)             track 1 has another id again
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/bus.sh"

TOOLS=$(dirname "$MURBEL")/tools
"$TOOLS/mkimage" noise "$SCRATCH/image" disc -seed 3 20 20 20 >/dev/null ||
    fail "mkimage could not write the image"
SHEET=$SCRATCH/image/disc.cue
DEVICE=$SHEET

start_x
start_bus
start_player -audioDevice "wav:$SCRATCH/heard.wav"
wait_on_bus

pctl play
expect_trace "cdrom_play: starting track 1"
expect_track 1
ids=("$TRACKID")

click ejectButton
expect_trace "cb_cdrom_eject: ejecting on track 1"
TRACE_IGNORE='^cdrom_open: cdrom not ready$'
touch "$SHEET"
wait_for_trace "names: cue $SHEET"
pctl play
wait_for_trace "cdrom_play: starting track 1"
expect_track 1
ids+=("$TRACKID")
[ "${ids[1]}" != "${ids[0]}" ] || fail "the image put in again kept the id ${ids[0]}"

trace_mark
call $PLAYER_IFACE.SetPosition objpath:${ids[0]} int64:10000000 || fail "SetPosition: $REPLY"
barrier
expect_no_trace
call $PLAYER_IFACE.SetPosition objpath:${ids[1]} int64:10000000 || fail "SetPosition: $REPLY"
expect_trace "cdrom_seek: moving to 00:10 in track 1"

call $PLAYER_IFACE.OpenUri "string:file://$SHEET" || fail "OpenUri: $REPLY"
wait_for_trace "mpris: opening $SHEET"
wait_for_trace "names: cue $SHEET"
wait_for_trace "cdrom_play: starting track 1"
expect_track 1
ids+=("$TRACKID")
[ "${ids[2]}" != "${ids[1]}" ] && [ "${ids[2]}" != "${ids[0]}" ] ||
    fail "the opened image kept an old id: ${ids[*]}"
expect_pctl Playing status

# Another disc's sheet renamed over the one playing, as an editor saves.
"$TOOLS/mkimage" noise "$SCRATCH/image" other -seed 4 20 20 >/dev/null ||
    fail "mkimage could not write the second image"
mv "$SCRATCH/image/other.cue" "$SHEET"
wait_for_trace_matching '^cdrom_disc_changed: new disc on track [0-9]+$'
wait_for_trace "names: cue $SHEET"
expect_pctl Stopped status
expect_pctl "Noise other" metadata xesam:album
pctl play
wait_for_trace "cdrom_play: starting track 1"
expect_track 1
ids+=("$TRACKID")
for old in "${ids[@]:0:3}"; do
    [ "${ids[3]}" != "$old" ] || fail "the rewritten sheet kept an old id: ${ids[*]}"
done
exit 0
