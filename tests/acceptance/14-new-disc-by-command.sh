#!/usr/bin/env bash
# A disc put in after an eject and found by a command before the poll.
#
# Right after a poll has found the drive empty, the disc goes in and a
# button is clicked at once; the command's own opening of the drive reads
# the disc, and the player treats it as new ("cdrom_new_disc: resetting
# disc", the eject button off, the clicked button on) before the command:
#  Play      plays from track 1
#  Next      stops on track 1
#  Program   enters program mode
# The eject button clicked on in the same way finds the disc still marked
# ejected and only says "already ejected".
#
# The poll runs every second, so the click normally comes first.  Should
# the poll win the race (the command then runs without the new-disc
# reset), the player is started again with an empty drive, which leaves it
# in the same ejected state, and the race is run again, up to three times.
source "$(dirname "$0")/lib.sh"

cat >"$SCRATCH/disc.text" <<'DISC'
track 1 00:02:00
track 2 03:00:00
track 3 06:00:00
leadout 09:00:00
speed 20
DISC
make_disc <"$SCRATCH/disc.text"

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
TRACE_IGNORE='^cdrom_open: cdrom not ready$'
# Reading the table of contents is not what this is about.
REQ_IGNORE='^toc-(header|entry [0-9]+)$'

click playButton
expect_trace "cdrom_play: starting track 1"
click ejectButton
expect_trace "cb_cdrom_eject: ejecting on track 1" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop" "program mode cancelled"

# Puts the disc in right after a failed poll and clicks BUTTON at once.
# Succeeds when the click came first (its first line after the drive's
# "no status" is WANT), fails when the poll came first.
race_the_poll()
{
    local button=$1 want=$2
    wait_for_trace "cdrom_open: cdrom not ready"
    request_mark
    make_disc <"$SCRATCH/disc.text"
    click "$button"
    wait_for_trace "cdrom_get_curtrack: no status"
    [ "$(next_trace_line)" = "$want" ]
}

# After a lost race: the player again, with an empty drive.
restart_empty()
{
    note "the poll found the disc before the click; starting again"
    click quitButton
    wait_for_trace "cb_cdrom_quit: bye"
    wait_player_exit
    rm -f "$DISC"
    start_player
    trace_mark
}

# Races until the click wins; PREPARE runs before each race.
race()
{
    local prepare=$1 button=$2 want=$3 try
    for try in 1 2 3; do
        $prepare
        race_the_poll "$button" "$want" && return 0
        restart_empty
    done
    fail "the poll always found the disc first"
}

nothing() { :; }

race nothing playButton "cdrom_new_disc: resetting disc"
expect_trace "cdrom_new_disc: resetting disc" "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"
expect_toggles ejectButton=off playButton=on

eject_playing() {
    click ejectButton
    wait_for_trace "program mode cancelled"
}
race eject_playing nextButton "cdrom_new_disc: resetting disc"
expect_trace "cdrom_new_disc: resetting disc" "cb_cdrom_next: stopped on track 1"
expect_toggles ejectButton=off nextButton=off
barrier
expect_no_requests

eject_stopped() {
    # The eject button may be on (after a restart) or off.
    [ "$(toggle_state ejectButton)" = on ] && click ejectButton
    click ejectButton
    wait_for_trace "program mode cancelled"
}
race eject_stopped pgmButton "cdrom_new_disc: resetting disc"
expect_trace "cdrom_new_disc: resetting disc" "cb_cdrom_program: program on"
expect_toggles ejectButton=off pgmButton=on
poll widget_shown programForm || fail "no program window"

# Ejecting leaves program mode; the eject button is then on.  A click
# turns it off (the drive is empty), and the click that turns it on again
# comes right after the disc.
eject_and_release() {
    [ "$(toggle_state ejectButton)" = off ] && { click ejectButton; wait_for_trace "program mode cancelled"; }
    expect_toggles ejectButton=on
    click ejectButton
    wait_for_trace "cb_cdrom_eject: error from cdrom_open"
}
race eject_and_release ejectButton "cb_cdrom_eject: already ejected"
expect_trace "cb_cdrom_eject: already ejected"
barrier
expect_no_requests
exit 0
