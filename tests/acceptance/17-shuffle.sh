#!/usr/bin/env bash
# Shuffle: the order, play to the end with and without repeat, previous
# and next along the order, and the bell while playing.
#
#  Shuffle (stopped)  "shuffle on" and the order "shuffle_setup: a b c d"
#  Play               every track of the order in turn, each one asked of
#                     the drive alone; after the last "shuffle done" and a
#                     reset (the drive left stopped at track 1)
#  Cycle, Play        the used-up order is drawn afresh and plays through;
#                     at its end "shuffle cycling", a new order, and its
#                     first track plays
#  Shuffle (playing)  the bell: the button turns itself off, no line, and
#                     Next still goes on in the disc's order
#  Next / Previous    in shuffle mode follow the order; Previous goes back
#                     one entry, Next past the last entry is "at last track"
#  Shuffle again      "shuffle off"
source "$(dirname "$0")/lib.sh"

DISC_TEXT='track 1 00:02:00
track 2 01:02:00
track 3 02:02:00
track 4 03:02:00
leadout 04:02:00'
make_disc <<<"$DISC_TEXT
speed 60"

# The drive's range for track t alone.
range() { printf 'play %02d:02:00 %02d:01:74' $(($1 - 1)) "$1"; }

# Reads the order from the next "shuffle_setup:" line into ORDER and
# checks that it holds every track once.
read_order()
{
    wait_for_trace_matching '^shuffle_setup: '
    [[ $TRACE_MATCH =~ ^shuffle_setup:\ ([0-9]+\ ){4}$ ]] || fail "order line: \"$TRACE_MATCH\""
    ORDER=(${TRACE_MATCH#shuffle_setup: })
    [ "$(printf '%s\n' "${ORDER[@]}" | sort -n | tr '\n' ' ')" = "1 2 3 4 " ] ||
        fail "the order ${ORDER[*]} is not every track once"
}

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
request_mark

click shuffleButton
expect_trace "cb_cdrom_shuffle: shuffle on"
read_order
expect_toggles shuffleButton=on

click playButton
expect_trace "cdrom_play: starting track ${ORDER[0]}"
expect_requests "$(range "${ORDER[0]}")"
for i in 1 2 3; do
    expect_trace "cdrom_atend: at end" "cdrom_play: starting track ${ORDER[$i]}"
    expect_requests "$(range "${ORDER[$i]}")"
done
expect_trace "cdrom_atend: at end" "cdrom_atend: shuffle done" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
expect_requests "$(range 1)" "stop"
expect_toggles playButton=off shuffleButton=on

# Played through, the order starts afresh at the next Play; with repeat,
# its end draws another one and play goes on.
click cycleButton
expect_trace "cb_cdrom_cycle: cycle on"
click playButton
read_order
expect_trace "cdrom_play: starting track ${ORDER[0]}"
expect_requests "$(range "${ORDER[0]}")"
for i in 1 2 3; do
    expect_trace "cdrom_atend: at end" "cdrom_play: starting track ${ORDER[$i]}"
done
expect_trace "cdrom_atend: at end" "cdrom_atend: shuffle cycling"
read_order
expect_trace "cdrom_play: starting track ${ORDER[0]}"
! grep -q "ran off end" "$ERR" || fail "the used-up order was played on: $(cat "$ERR")"
click quitButton
wait_player_exit

# Slower now, to step through the order by hand.
make_disc <<<"$DISC_TEXT
speed 2"
start_player
trace_mark
request_mark

click playButton
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 04:01:74"
click shuffleButton
click nextButton
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
expect_requests "play 01:02:00 04:01:74"
expect_toggles shuffleButton=off

click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
click shuffleButton
expect_trace "cb_cdrom_shuffle: shuffle on"
read_order
request_mark

click playButton
expect_trace "cdrom_play: starting track ${ORDER[0]}"
click nextButton
expect_trace "cb_cdrom_next: playing track ${ORDER[1]}" "cdrom_play: starting track ${ORDER[1]}"
click nextButton
expect_trace "cb_cdrom_next: playing track ${ORDER[2]}" "cdrom_play: starting track ${ORDER[2]}"
click prevButton
expect_trace "cb_cdrom_previous: playing track ${ORDER[1]}" "cdrom_play: starting track ${ORDER[1]}"
click nextButton
expect_trace "cb_cdrom_next: playing track ${ORDER[2]}" "cdrom_play: starting track ${ORDER[2]}"
click nextButton
expect_trace "cb_cdrom_next: playing track ${ORDER[3]}" "cdrom_play: starting track ${ORDER[3]}"
expect_requests "$(range "${ORDER[0]}")" "$(range "${ORDER[1]}")" "$(range "${ORDER[2]}")" \
    "$(range "${ORDER[1]}")" "$(range "${ORDER[2]}")" "$(range "${ORDER[3]}")"
click nextButton
expect_trace "cb_cdrom_next: at last track"
barrier
expect_no_requests

click stopButton
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop" "cb_cdrom_shuffle: shuffle on"
read_order
click shuffleButton
expect_trace "cb_cdrom_shuffle: shuffle off"
expect_toggles shuffleButton=off
exit 0
