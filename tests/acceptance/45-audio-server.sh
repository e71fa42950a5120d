#!/usr/bin/env bash
# A good citizen of the sound server.
#
#  With an image loaded and the player stopped, Murbel has no stream on
#  the server.  Play makes one, named as desktop mixers show it: the
#  application "Murbel", its icon "murbel", the role "music", and the
#  track's CD-Text as the media name.  A change of volume is heard within 50 ms
#  (measured in the recording, from the moment the key was sent), and
#  full volume is bit for bit again.  A few seconds after Stop the stream
#  is gone, and with nothing recording the server's sink suspends.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/audio.sh"

make_image disc -seed 11 20 3
# The disc's performer, for the stream's media name (mkimage names track 1).
sed -i '1a PERFORMER "Sigur Rós"' "$DEVICE"
start_x
start_pulse
start_capture
# The bar's own scale (the listening scenarios' usual -volBase 255 pins
# every place of the bar at full volume), raised to the top before Play.
start_listened_player -volBase 187
expect_trace "cdrom_get_curtrack: no status"
barrier  # its clicks leave the pointer, and so the keys' focus, on the window
for i in 1 2 3 4; do key XF86AudioRaiseVolume; done
wait_for_trace "volume=255"
[ "$(streams)" -eq 0 ] || fail "a stream while stopped: $(pactl list short sink-inputs)"

click playButton
expect_trace "cdrom_play: starting track 1"
has_stream() { [ "$(streams)" -eq 1 ]; }
poll has_stream || fail "no stream while playing"
props=$(pactl list sink-inputs)
for want in 'application.name = "Murbel"' 'application.icon_name = "murbel"' 'media.role = "music"' \
    'media.name = "Sigur Rós - Noise one"'; do
    grep -q -F "$want" <<<"$props" || fail "the stream lacks $want: $props"
done
wait_heard_until "$(addr_plus "$(track_start 1)" 2)"

# Volume: the key, then where the recording stops being the disc.
volume_change_ms()
{
    local at=$(capture_frames) from
    key "$1"
    wait_for_trace_matching '^volume=[0-9]+$'
    changed() { from=$(listen; awk -v at="$at" '$1 == "unmatched" && $2 + $3 > at { print $2; exit }' <<<"$LISTENED"); [ -n "$from" ]; }
    POLL_SLEEP=0.1 poll changed || fail "the volume change was never heard"
    echo $(((from - at) * 1000 / RATE))
}
trace_mark
down=$(volume_change_ms XF86AudioLowerVolume)
[ -n "$down" ] || fail "no measure of the volume change"
note "volume down heard after ${down} ms"
[ "$down" -le 50 ] || fail "the volume change was heard after $down ms"
key XF86AudioRaiseVolume  # a key step up undoes a step down
wait_for_trace "volume=255"
heard_mark
wait_heard_until "$(addr_plus "$(track_start 1)" 6)"
# The recorder hands over in blocks (PipeWire's of up to 8192 frames): the
# mark may fall before the last of the old volume was recorded.
again=$(heard)
first=$(head -n 1 <<<"$again")
[[ $first != unmatched* ]] || [ "${first#unmatched }" -le $((RATE / 2)) ] ||
    fail "full volume again is not the disc: $again"
[ -z "$(tail -n +2 <<<"$again" | grep unmatched)" ] || fail "full volume again is not the disc: $again"

click stopButton
expect_trace "cb_cdrom_stop: resetting disc"
t0=$(now_ms)
no_stream() { [ "$(streams)" -eq 0 ]; }
poll no_stream || fail "the stream stayed after Stop"
note "stream gone $(($(now_ms) - t0)) ms after Stop"
# Nothing records now: the sink may suspend.
kill "$PAREC_PID" 2>/dev/null && wait "$PAREC_PID" 2>/dev/null
PAREC_PID=""
[ "$SERVER" = pipewire ] || pactl load-module module-suspend-on-idle timeout=1 >/dev/null
suspended() { pactl list short sinks | grep '	capture	' | grep -q SUSPENDED; }
ACC_TIMEOUT=15 poll suspended || fail "the sink never suspended: $(pactl list short sinks)"
click quitButton
wait_player_exit
[ "$PLAYER_STATUS" -eq 0 ] || fail "quit gave status $PLAYER_STATUS"
exit 0
