#!/usr/bin/env bash
# The volume bar (horizontal, 73 pixels long with the shipped resources;
# the figures below are for that length, the default volBase 187 and
# volPcent 0.267).  The thumb's place k (0..255) is the volume
# 187 + k x 0.267, whatever moved it.  In an Athena scroll bar button 1
# scrolls forward (the thumb toward the start, quieter), button 3
# backward, by the pointer's distance along the bar; button 2 drags the
# thumb; the wheel steps a sixteenth, as the volume keys do.
#
#  start-up                     volume 238 (k 192) to both channels, no line
#  button 1 at pixel 0          one step: k 191, 237
#  button 2 at pixel 36         jump to 36/73: k 125, 220
#  button 1 at pixel 36         125.75 steps down: k 0, 187
#  button 3 at pixel 20         69.9 steps up: k 69, 205
#  button 2 dragged from pixel 0 past the end: 187, then 255
#  button 3 at pixel 72         held at 255
#  button 1 at pixel 72         251.5 steps down: k 4, 188; again: 187, 187
#  wheel up, up, down           k 16, 32, 16: 191, 195, 191
# Each change gives "volume=N" on the trace and "volume N N" to the drive.
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
leadout 09:00:00
DISC

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
expect_requests "toc-header" "toc-entry 1" "toc-entry 170" "volume 238 238"
length=$(widget_geometry volumeScrollbar | cut -d' ' -f1)
[ "$length" = 73 ] || fail "the volume bar is $length pixels long, not 73"

volume_is()
{
    expect_trace "volume=$1"
    expect_requests "volume $1 $1"
}

click volumeScrollbar 1 0 5
volume_is 237
click volumeScrollbar 2 36 5
volume_is 220
click volumeScrollbar 1 36 5
volume_is 187
click volumeScrollbar 3 20 5
volume_is 205

read -r x y < <(widget_point volumeScrollbar 0 5)
xdotool mousemove "$x" "$y" mousedown 2 mousemove $((x + 200)) "$y" mouseup 2
volume_is 187
volume_is 255
barrier
expect_no_requests

click volumeScrollbar 3 72 5
volume_is 255
click volumeScrollbar 1 72 5
volume_is 188
click volumeScrollbar 1 72 5
volume_is 187
click volumeScrollbar 1 72 5
volume_is 187
click volumeScrollbar 4 10 5
volume_is 191
click volumeScrollbar 4 60 5
volume_is 195
click volumeScrollbar 5 30 5
volume_is 191
barrier
expect_no_requests
exit 0
