#!/usr/bin/env bash
# Malformed and hostile bus input while a disc plays: every call gets a
# D-Bus error (or, where MPRIS says so, is ignored) and nothing changes:
# no trace line, no drive request, the same status, track and volume.
# Then OpenUri of a good disc file brings that disc in as a new disc.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/bus.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
leadout 06:00:00
DISC

start_x
start_bus
start_player
wait_on_bus
click playButton
expect_trace "cdrom_play: starting track 1"
expect_pctl Playing status
trace_mark
request_mark
volume_before=$(pctl volume)
expect_track 1
T=$TRACK_PREFIX

P=$PLAYER_IFACE
E=org.freedesktop.DBus.Error
# Wrong argument types and counts.
expect_error $E.InvalidArgs $P.Seek string:ten
expect_error $E.InvalidArgs $P.Seek int64:1 int64:2
expect_error $E.InvalidArgs $P.SetPosition int64:5 objpath:${T}1
expect_error $E.InvalidArgs $P.OpenUri int32:7
expect_error $E.InvalidArgs $P.Play string:extra
# Offsets at the ends of their range: a jump, not an overflow.
call $P.Seek int64:-9223372036854775808 || fail "the smallest offset: $REPLY"
expect_request_like "^play 00:02:00 05:59:74$"
call $P.SetPosition objpath:${T}1 int64:9223372036854775807 &&
    fail "the largest position was taken"
trace_mark
request_mark
# Unknown methods, interfaces and objects.
expect_error $E.UnknownMethod $P.Explode
expect_error $E.UnknownMethod org.mpris.MediaPlayer2.Nonsense.Play
REPLY=$(dbus-send --session --print-reply --dest=$MPRIS.murbel /org/mpris/Elsewhere $P.Play 2>&1) &&
    fail "a call on another object was accepted"
grep -q "^Error $E.UnknownObject" <<<"$REPLY" || fail "another object: $REPLY"
# Properties: read-only, unknown, wrong types, values out of their set.
expect_error $E.PropertyReadOnly org.freedesktop.DBus.Properties.Set string:$P \
    string:PlaybackStatus variant:string:Stopped
expect_error $E.UnknownProperty org.freedesktop.DBus.Properties.Set string:$P \
    string:Loudness variant:double:1
expect_error $E.InvalidArgs org.freedesktop.DBus.Properties.Set string:$P \
    string:Volume variant:string:loud
expect_error $E.InvalidArgs org.freedesktop.DBus.Properties.Set string:$P \
    string:Shuffle variant:int32:1
expect_error $E.InvalidArgs org.freedesktop.DBus.Properties.Set string:$P \
    string:LoopStatus variant:string:Forever
# A rate out of MinimumRate..MaximumRate (both 1.0) is ignored, as MPRIS
# asks: no error, and nothing changes (checked below with the rest).
for rate in 2 0.5 -1 1e308; do
    call org.freedesktop.DBus.Properties.Set string:$P string:Rate variant:double:$rate ||
        fail "Rate $rate: $REPLY"
done
busctl --user set-property $MPRIS.murbel /org/mpris/MediaPlayer2 $P Volume d nan 2>"$SCRATCH/busctl" &&
    fail "a volume of nan was taken"
grep -q "not a number" "$SCRATCH/busctl" || fail "nan: $(cat "$SCRATCH/busctl")"
# SetPosition past the lead-out is an error; a stale track or a place past
# the track's end is ignored, as MPRIS asks.
expect_error $E.InvalidArgs $P.SetPosition objpath:${T}1 int64:400000000
call $P.SetPosition objpath:${T}2 int64:1000000 || fail "stale track: $REPLY"
call $P.SetPosition objpath:${T}1 int64:200000000 || fail "past the track: $REPLY"
call $P.SetPosition objpath:${T}1 int64:-5 || fail "negative: $REPLY"
call $P.SetPosition objpath:${T}99 int64:1 || fail "no such track: $REPLY"
call $P.SetPosition objpath:/org/murbel/disc/99999/track/1 int64:1000000 ||
    fail "another disc's track: $REPLY"
call $P.SetPosition objpath:/org/murbel/track/1 int64:1000000 || fail "an id of old: $REPLY"
# OpenUri of what is not a disc.
expect_error $E.FileNotFound $P.OpenUri string:file://$SCRATCH/missing.cue
echo 'FILE "nowhere.bin" BINARY garbage' >"$SCRATCH/bad.cue"
expect_error $E.InvalidArgs $P.OpenUri string:file://$SCRATCH/bad.cue
echo 'track x' >"$SCRATCH/bad.disc"
expect_error $E.InvalidArgs $P.OpenUri string:sim:$SCRATCH/bad.disc
mkfifo "$SCRATCH/pipe.cue"
expect_error $E.InvalidArgs $P.OpenUri string:file://$SCRATCH/pipe.cue
expect_error $E.InvalidArgs $P.OpenUri string:sim:$SCRATCH
expect_error $E.NotSupported $P.OpenUri string:http://example.org/album.cue
expect_error $E.NotSupported $P.OpenUri string:file:relative.cue
expect_error $E.NotSupported $P.OpenUri string:file:///a%zz.cue

barrier
expect_no_trace
expect_no_requests
expect_pctl Playing status
expect_pctl "'${T}1'" metadata mpris:trackid
expect_pctl "$volume_before" volume
expect_toggles playButton=on
player_running || fail "the player ended"

# A good disc file by URI: the old disc goes, the new one is read and
# played from its first track as after a disc change.
make_disc "$SCRATCH/other.disc" <<'DISC'
track 1 00:02:00
track 2 01:00:00
track 3 02:00:00
leadout 03:00:00
DISC
call $P.OpenUri string:sim:$SCRATCH/other.disc || fail "OpenUri of a disc file: $REPLY"
wait_for_trace "mpris: opening sim:$SCRATCH/other.disc"
wait_for_trace "cdrom_new_disc: resetting disc"
wait_for_trace "cdrom_play: starting track 1"
expect_pctl Playing status
expect_pctl 58000000 metadata mpris:length
# A new disc is a new list of tracks: track 1 has a new id.
expect_track 1
[ "$TRACK_PREFIX" != "$T" ] || fail "the new disc's track 1 kept the old id $TRACKID"
expect_toggles playButton=on ejectButton=off
exit 0
