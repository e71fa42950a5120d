#!/usr/bin/env bash
# The volume bar (horizontal, 73 pixels long with the shipped resources;
# the figures below are for that length, the default volBase 187 and
# volPcent 0.267).  In an Athena scroll bar button 1 scrolls forward,
# button 3 backward, and button 2 drags the thumb.
#
#  start-up                     volume 238 to both channels, no line
#  button 1 at pixel 0          forward by the least step, 1: 237
#  button 2 at pixel 36         jump to 36/73: 187 + trunc(125.75) x 0.267
#                               = 220
#  button 1 at pixel 36         forward: 220 - 36/73 x 220 = 111.5 -> 111
#  button 3 at pixel 20         backward: 111 + 20/73 x 111 = 141.4 -> 141
#  button 2 dragged from pixel 0 past the end: 187, then 255
#  button 3 at pixel 72         255 + 251.5, held at 255
#  button 1 at pixel 72         255 - 251.5 = 3.5 -> 3; again: 0.04 -> 1
#  button 1 at pixel 72         1 - 1 = 0, held at 1
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
volume_is 111
click volumeScrollbar 3 20 5
volume_is 141

read -r x y < <(widget_point volumeScrollbar 0 5)
xdotool mousemove "$x" "$y" mousedown 2 mousemove $((x + 200)) "$y" mouseup 2
volume_is 187
volume_is 255
barrier
expect_no_requests

click volumeScrollbar 3 72 5
volume_is 255
click volumeScrollbar 1 72 5
volume_is 3
click volumeScrollbar 1 72 5
volume_is 1
click volumeScrollbar 1 72 5
volume_is 1
barrier
expect_no_requests
exit 0
