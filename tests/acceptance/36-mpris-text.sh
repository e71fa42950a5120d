#!/usr/bin/env bash
# Text on the bus is UTF-8 whatever its source, read by real clients
# (playerctl, gdbus, busctl, dbus-monitor):
#  the information file in Latin-1   playerctl reads the album "Café
#  (as the player saves a typed       Müller"; gdbus GetAll of the Player
#  title)                             answers; playerctl lists the player
#  "Déjà vu" typed in the title       PropertiesChanged carries it, and
#  dialog (its text field gives       playerctl, busctl and GetAll read it
#  Latin-1)
#  the information file rewritten     OpenUri of the disc: the album
#  in UTF-8: "Ελλάδα"                 "Ελλάδα", and new track ids
#  a Latin-1 xmcd file for the disc   OpenUri again: artist "Sigur Rós",
#                                     album "Ágætis Byrjun", track 3
#                                     "Starálfur"
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/bus.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 04:10:33
track 3 07:00:00
leadout 10:30:12
DISC
printf 'Title:Caf\xe9 M\xfcller\nProgram: \n' >"$INFO/cd.406"
CDDB=$SCRATCH/cddb
mkdir -p "$CDDB"

start_x
start_bus
start_player -xrm "*cddbPath: $CDDB"
wait_on_bus
start_monitor

getall() {
    gdbus call --session --dest $MPRIS.murbel --object-path /org/mpris/MediaPlayer2 \
        --method org.freedesktop.DBus.Properties.GetAll $PLAYER_IFACE 2>&1
}
expect_getall() {
    local out
    out=$(getall) || fail "GetAll failed: $out"
    grep -qF "'xesam:album': <'$1'>" <<<"$out" || fail "GetAll has no album \"$1\": $out"
}

expect_pctl "Café Müller" metadata xesam:album
expect_getall "Café Müller"
playerctl -l | grep -qx murbel || fail "playerctl does not list the player: $(playerctl -l 2>&1)"

# Typed in the dialog, in a UTF-8 locale as a user's desktop has it.
open_title_dialog
read -r x y < <(widget_center dialogValue)
xdotool mousemove "$x" "$y" key ctrl+a ctrl+k || fail "no text field"
LC_ALL=C.UTF-8 xdotool type --delay 20 "Déjà vu"
dialog_return
dialog_closed
expect_signal Metadata 'string "Déjà vu"'
expect_pctl "Déjà vu" metadata xesam:album
expect_getall "Déjà vu"
out=$(busctl --user get-property $MPRIS.murbel /org/mpris/MediaPlayer2 $PLAYER_IFACE Metadata 2>&1) ||
    fail "busctl: $out"
# busctl shows the bytes of what is not ASCII: é and à in UTF-8.
grep -qF '"xesam:album" s "D\303\251j\303\240 vu"' <<<"$out" || fail "busctl reads $out"
expect_pctl Stopped status

# The file rewritten in UTF-8 and the disc opened again: a new disc.
pctl play
expect_track 1
first=$TRACK_PREFIX
printf 'Title:\xce\x95\xce\xbb\xce\xbb\xce\xac\xce\xb4\xce\xb1\nProgram: \n' >"$INFO/cd.406"
call $PLAYER_IFACE.OpenUri string:sim:$DISC || fail "OpenUri: $REPLY"
expect_pctl "Ελλάδα" metadata xesam:album
expect_getall "Ελλάδα"
expect_track 1
[ "$TRACK_PREFIX" != "$first" ] || fail "the disc opened again kept its track ids ($TRACKID)"

# Names from a Latin-1 xmcd file (freedb ID 0f027403).
printf '%s\n' '# xmcd' '#' '# Track frame offsets:' '#	150' '#	18783' '#	31500' '#' \
    '# Disc length: 630 seconds' '#' 'DISCID=0f027403' 'DTITLE=Sigur R\363s / \301g\346tis Byrjun' \
    'TTITLE0=Intro' 'TTITLE1=Svefn-g-englar' 'TTITLE2=Star\341lfur' 'EXTD=' 'PLAYORDER=' |
    sed 's/\\363/\xf3/; s/\\301/\xc1/; s/\\346/\xe6/; s/\\341/\xe1/' >"$CDDB/0f027403"
call $PLAYER_IFACE.OpenUri string:sim:$DISC || fail "OpenUri: $REPLY"
wait_for_trace "names: cddb $CDDB/0f027403"
expect_pctl "Ágætis Byrjun" metadata xesam:album
pctl next
pctl next
expect_track 3
expect_pctl "Starálfur" metadata xesam:title
expect_pctl "Sigur Rós" metadata xesam:artist
expect_signal Metadata 'string "Starálfur"'
out=$(getall) || fail "GetAll failed: $out"
grep -qF "'xesam:artist': <['Sigur Rós']>" <<<"$out" || fail "GetAll: $out"
[ -s "$ERR" ] && fail "unexpected error reports: $(cat "$ERR")"
exit 0
