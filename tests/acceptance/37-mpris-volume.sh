#!/usr/bin/env bash
# One volume for the window and the bus: whatever moves it (the volume
# keys, the wheel, scroll clicks, a drag, playerctl), the bus's Volume is
# the thumb's place v on the bar (its drawn left edge at v x 73 pixels),
# the volume sent is 187 + trunc(v x 255) x 0.267, and PropertiesChanged
# tells the new Volume.  A key or wheel step down and up comes back to
# the same volume and place, from the start-up setting (238) on.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/bus.sh"

make_three_track_disc

start_x
start_bus
start_player
wait_on_bus
start_monitor

# The bar's left edge, in pixels, of the thumb (dark on the light bar).
thumb_edge()
{
    local file=$SCRATCH/bar.xwd
    grab volumeScrollbar "$file" || return 1
    od -A n -v -t u1 -j $((XWD_DATA + 5 * XWD_BPL)) -N $((XWD_W * 4)) "$file" |
        awk '{ for (i = 1; i <= NF; i++) b[n++] = $i }
             END { for (x = 0; x * 4 < n; x++) if (b[4 * x] + b[4 * x + 1] + b[4 * x + 2] < 300) { print x; exit } }'
}

# Waits until the bus, the trace, the drive and the drawn thumb all tell
# volume N.
LAST=""
agree()
{
    local n=$1 v="" edge=""
    expect_trace "volume=$n"
    expect_request_like "^volume $n $n\$"
    bus_says() {
        v=$(pctl volume)
        [ "$(awk -v v="$v" 'BEGIN { k = int(v * 255 + 0.001); print int(k * 0.267 + 187) }')" = "$n" ]
    }
    poll bus_says || fail "the bus says Volume $v, which is not volume $n"
    drawn() { edge=$(thumb_edge); awk -v e="$edge" -v v="$v" 'BEGIN { d = e - v * 73; exit !(e != "" && d > -1.5 && d < 1.5) }'; }
    poll drawn || fail "the thumb is drawn from pixel $edge, not at $v of the bar"
    # dbus-monitor shows six digits, trailing zeros left out.
    local shown
    shown=$(awk -v v="$v" 'BEGIN { sub(/0+$/, "", v); sub(/\.$/, "", v); print substr(v, 1, 6) }')
    [ "$v" = "$LAST" ] || expect_signal Volume "double ${shown//./\\.}"
    LAST=$v
}
LAST=$(pctl volume)
[ "$LAST" = 0.752941 ] || fail "the start-up Volume is $LAST"

over_window() { read -r x y < <(widget_center logoLabel); xdotool mousemove "$x" "$y"; }
wheel() { read -r x y < <(widget_point volumeScrollbar 30 5); xdotool mousemove "$x" "$y" click "$1"; }

over_window
key XF86AudioLowerVolume
agree 233
key XF86AudioRaiseVolume
agree 238
[ "$(pctl volume)" = 0.752941 ] || fail "down and up did not come back to the start"
wheel 5
agree 233
wheel 5
agree 229
wheel 4
agree 233
wheel 4
agree 238
click volumeScrollbar 1 36 5   # 125.75 steps toward the start: place 67
agree 204
over_window
key XF86AudioRaiseVolume       # place 83
agree 209
click volumeScrollbar 3 10 5   # 34.9 steps on: place 117
agree 218
read -r x y < <(widget_point volumeScrollbar 50 5)
xdotool mousemove "$x" "$y" mousedown 2 mouseup 2
wait_for_trace_matching '^volume=[0-9]+$'
n=${TRACE_MATCH#volume=}
v=$(pctl volume)
[ "$(awk -v v="$v" 'BEGIN { print int(int(v * 255 + 0.001) * 0.267 + 187) }')" = "$n" ] ||
    fail "after a drag the bus says $v, the volume is $n"
pctl volume 0.3
agree 207
over_window
key XF86AudioLowerVolume
agree 203
key XF86AudioRaiseVolume
agree 207
pctl volume 0.1+               # 0.298039 + 0.1: place 101
agree 213
[ -s "$ERR" ] && fail "unexpected error reports: $(cat "$ERR")"
exit 0
