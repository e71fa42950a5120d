#!/usr/bin/env bash
# The transport from the desktop: playerctl on a private session bus.
#
#  Each command reaches the button's own routine: the trace, the drive's
#  requests and the buttons' looks are those of a click.
#  play / pause / play (resumes) / play-pause twice / next / previous;
#  position N (SetPosition) and position N- (Seek) jump in the track as a
#  scan step does; a seek past the track's end is Next; shuffle on while
#  playing is refused with the bell as on the window, and taken when
#  stopped; loop Playlist / None / Track (taken as Playlist); Rate 0.0
#  pauses; volume moves the bar as a drag does; status and metadata read back; Quit by
#  dbus-send is answered and ends the player with status 0.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/bus.sh"

make_three_track_disc

start_x
start_bus
start_player
wait_on_bus
trace_mark
request_mark

expect_pctl Stopped status
expect_pctl "'/org/mpris/MediaPlayer2/TrackList/NoTrack'" metadata mpris:trackid
[ "$(pctl metadata xesam:album)" = "" ] || fail "an album for a disc with no name"

pctl play || fail "playerctl play failed"
expect_trace "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"
expect_toggles playButton=on stopButton=off
expect_pctl Playing status
expect_track 1
expect_pctl 178000000 metadata mpris:length
expect_pctl 1 metadata xesam:trackNumber

pctl pause
expect_trace "cb_cdrom_pause: pausing on track 1"
expect_requests "pause"
expect_toggles pauseButton=on
expect_pctl Paused status

# Play on a paused disc resumes it: the pause button's routine.
pctl play
expect_trace "cb_cdrom_pause: resuming track 1"
expect_requests "resume"
expect_toggles pauseButton=off
expect_pctl Playing status

pctl play-pause
expect_trace "cb_cdrom_pause: pausing on track 1"
expect_requests "pause"
pctl play-pause
expect_trace "cb_cdrom_pause: resuming track 1"
expect_requests "resume"

# Rate 0.0 is Pause, as MPRIS has it.
busctl --user set-property $MPRIS.murbel /org/mpris/MediaPlayer2 $PLAYER_IFACE Rate d 0 ||
    fail "busctl could not set Rate"
expect_trace "cb_cdrom_pause: pausing on track 1"
expect_requests "pause"
expect_pctl Paused status
pctl play
expect_trace "cb_cdrom_pause: resuming track 1"
expect_requests "resume"

pctl next
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
expect_requests "play 03:00:00 08:59:74"
expect_track 2
expect_pctl 180000000 metadata mpris:length
expect_toggles nextButton=off

pctl previous
expect_trace "cb_cdrom_previous: playing track 1" "cdrom_play: starting track 1"
expect_requests "play 00:02:00 08:59:74"
expect_track 1
expect_toggles prevButton=off

# SetPosition: 30 s into track 1 is 00:32:00 on the disc.
pctl position 30
expect_trace "cdrom_seek: moving to 00:30 in track 1"
expect_requests "play 00:32:00 08:59:74"
at=$(pctl position)
awk -v p="$at" 'BEGIN { exit !(p >= 30 && p < 33) }' || fail "position $at after a jump to 30"

# Seek back by 10 s from wherever it is now (30 s and a little).
pctl position 10-
wait_for_trace_matching '^cdrom_seek: moving to 00:2[0-2] in track 1$'
expect_request_like "^play 00:2[2-4]:[0-9]+ 08:59:74$"

# Beyond the track's end: the next track, as the next button does.
pctl position 500+
expect_trace "cb_cdrom_next: playing track 2" "cdrom_play: starting track 2"
expect_track 2

# Shuffle is refused while a disc plays (the window rings the bell).
pctl shuffle On
barrier
expect_pctl Off shuffle
expect_toggles shuffleButton=off

pctl stop
expect_trace "cb_cdrom_stop: resetting disc" "cdrom_play: starting track 1" \
    "cdrom_reset: forcing immediate stop"
expect_toggles stopButton=on playButton=off
expect_pctl Stopped status

pctl shuffle On
expect_trace "cb_cdrom_shuffle: shuffle on"
wait_for_trace_matching "^shuffle_setup: [1-3] [1-3] [1-3] $"
expect_pctl On shuffle
expect_toggles shuffleButton=on
pctl shuffle Off
expect_trace "cb_cdrom_shuffle: shuffle off"
expect_pctl Off shuffle

pctl loop Playlist
expect_trace "cb_cdrom_cycle: cycle on"
expect_pctl Playlist loop
expect_toggles cycleButton=on
pctl loop None
expect_trace "cb_cdrom_cycle: cycle off"
expect_pctl None loop
pctl loop Track
expect_trace "cb_cdrom_cycle: cycle on"
expect_pctl Playlist loop
pctl loop None
expect_trace "cb_cdrom_cycle: cycle off"

# Volume is the bar's place: 238 at start-up is the place 192 of 255.
# The bar at 0.5 is volume 187 + 127 * 0.267, as a drag there gives; a
# value read back with six decimals and sent again changes nothing.
expect_pctl 0.752941 volume
pctl volume 0.5
expect_trace "volume=220"
expect_pctl 0.500000 volume
pctl volume 0.843137
expect_trace "volume=244"
pctl volume "$(pctl volume)"
expect_trace "volume=244"
expect_pctl 0.843137 volume
pctl volume 1.0
expect_trace "volume=255"

# The root interface: who the player is, and Raise brings the window back.
call org.freedesktop.DBus.Properties.GetAll string:$MPRIS || fail "GetAll: $REPLY"
for want in '"Identity"' 'string "Murbel"' '"DesktopEntry"' 'string "org.example.murbel"' \
    'string "application/x-cue"' '"HasTrackList"' 'boolean false' '"CanQuit"' '"CanRaise"'; do
    grep -qF "$want" <<<"$REPLY" || fail "the root interface lacks $want: $REPLY"
done
xdotool windowunmap "$(shell_window)"
poll eval '! window_viewable' || fail "the window stayed"
call $MPRIS.Raise || fail "Raise: $REPLY"
poll window_viewable || fail "Raise did not bring the window back"

call $MPRIS.Quit || fail "Quit was not answered: $REPLY"
wait_player_exit
[ "$PLAYER_STATUS" = 0 ] || fail "exit status $PLAYER_STATUS"
expect_trace "cb_cdrom_quit: bye"
exit 0
