#!/usr/bin/env bash
# What the window shows is what the player holds.
#
#  a title of one 68-letter word   the bar keeps the height of a short
#                                  title, its scroll bar lies below it,
#                                  and a click in the middle of the title
#                                  area opens the dialog
#  previous, next held and let go  drawn pressed while held, not after
#  3, 4, anchor, 7; delete 7       the row reads "7-3-4" with "-3" as wide
#                                  as "-4"; then "3-4" with "3" as wide as
#                                  "7" was
#  the window at the screen's      the dialog opens wholly on the screen
#  corners
#
# ACC_SHOTS=DIR keeps pictures of the screen there (PNG).
source "$(dirname "$0")/lib.sh"

make_disc <<'DISC'
track 1 00:02:00
track 2 01:00:00
track 3 02:00:00
track 4 03:00:00
track 5 04:00:00
track 6 05:00:00
track 7 06:00:00
track 8 07:00:00
leadout 08:00:00
DISC
LONG=Supercalifragilisticexpialidociousantidisestablishmentarianismwwxxyz
[ ${#LONG} = 68 ] || fail "the long title has ${#LONG} letters"

shot()
{
    [ -n "${ACC_SHOTS:-}" ] || return 0
    mkdir -p "$ACC_SHOTS"
    xwd -root -silent | convert xwd:- "$ACC_SHOTS/$1.png"
}

start_x
start_player
expect_trace "cdrom_get_curtrack: no status"
click pgmButton
expect_trace "cb_cdrom_program: program on"
click Save
wait_for_trace_matching '^program saved to '
FILE=${TRACE_MATCH#program saved to }
short=($(widget_geometry titleBar))
click pgmButton  # the latch: this press only restores the buttons
end_process "$PLAYER_PID" "the player"
printf 'Title:%s\nProgram: \n' "$LONG" >"$FILE"

start_player
expect_trace "cdrom_get_curtrack: no status"
pointer_away
shot long-title
bar=($(widget_geometry titleBar))
view=($(widget_geometry titleBarViewport))
[ "${bar[1]}" = "${short[1]}" ] || fail "the long title's bar is ${bar[1]} high, a short one's ${short[1]}"
[ "${bar[0]}" -gt "${view[0]}" ] || fail "the bar (${bar[0]}) does not hold the whole title"
# The scroll bar: the viewport's child without children, below the title.
for c in $(children "$(widget titleBarViewport)" | cut -d' ' -f1); do
    [ "$(child_count "$c")" = 0 ] || continue
    sb=($(children "$(widget titleBarViewport)" | grep "^$c "))
    [ "${sb[4]}" -ge $((bar[3] + bar[1])) ] || fail "the scroll bar (y ${sb[4]}) lies over the title"
done
click titleBarViewport
poll widget_viewable dialogValue || fail "a click in the middle of the title did not open the dialog"
dialog_return
dialog_closed

# Previous and next look pressed only while the pointer holds them.
for b in prevButton nextButton; do
    read -r x y < <(widget_center $b)
    xdotool mousemove "$x" "$y" mousedown 1
    expect_toggles $b=on
    xdotool mouseup 1
    wait_for_trace_matching "^cb_cdrom_(previous|next): stopped on track [0-9]+$"
    expect_toggles $b=off
done

# The program row: inserting at the front and deleting the head.
click pgmButton
expect_trace "cb_cdrom_program: program on"
click 3
click 4
click "selection 0"
click 7
expect_trace "adding track 3 to program" "adding track 4 to program" "adding track 7 to program"
pointer_away
shot program-front
g7=($(widget_geometry "selection 1"))
g3=($(widget_geometry "selection 2"))
g4=($(widget_geometry "selection 3"))
[ "${g3[0]}" = "${g4[0]}" ] || fail "\"-3\" is ${g3[0]} wide, \"-4\" ${g4[0]}"
[ "${g7[0]}" -lt "${g3[0]}" ] || fail "\"7\" (${g7[0]}) is not narrower than \"-3\" (${g3[0]})"
[ "${g3[2]}" -ge $((g7[2] + g7[0])) ] && [ "${g4[2]}" -ge $((g3[2] + g3[0])) ] ||
    fail "the toggles overlap: 7 at ${g7[2]}, -3 at ${g3[2]}, -4 at ${g4[2]}"
click "selection 1"  # 7 is the mark and on: off, then on again deletes it
click "selection 1"
expect_trace "deleting selection from program"
pointer_away
shot program-head-deleted
h3=($(widget_geometry "selection 1"))
[ "${h3[0]}" = "${g7[0]}" ] || fail "\"3\" is ${h3[0]} wide, \"7\" was ${g7[0]}"

# The dialog at the screen's corners.
read -r sw sh < <(xwininfo -root | awk '/^  Width:/ { w = $NF } /^  Height:/ { h = $NF } END { print w, h }')
# The title's place in the window, to bring it to the corners.
v=($(widget_geometry titleBarViewport))
find_shell_window || fail "the player's window is gone"
w=($(xwininfo -id "$SHELL_WIN" | awk '/Absolute upper-left X:/ { x = $NF }
    /Absolute upper-left Y:/ { y = $NF } END { print x, y }'))
ox=$((v[2] - w[0])) oy=$((v[3] - w[1]))
for corner in "$((sw - ox - 60)) $((sh - oy - 25))" "$((-ox - 200)) $((-oy))" \
    "$((sw - ox - 60)) $((-oy))"; do
    read -r wx wy <<<"$corner"
    xdotool windowmove "$SHELL_WIN" "$wx" "$wy"
    # Once the server has moved it, the player's ConfigureNotify is queued
    # ahead of the click below.
    moved() { g=($(widget_geometry titleBarViewport)); [ "${g[2]}" = $((wx + ox)) ] && [ "${g[3]}" = $((wy + oy)) ]; }
    poll moved || fail "the window did not move to $wx,$wy: the title is at ${g[2]},${g[3]}"
    # Click a point of the title that is on the screen.
    v=($(widget_geometry titleBarViewport))
    x=$((v[2] < 0 ? 5 : v[2] + 20)) y=$((v[3] + 8))
    xdotool mousemove "$x" "$y" click 1
    poll widget_viewable dialogValue || fail "the dialog did not open at $corner"
    shell=$(title_shell)
    d=($(xwininfo -id "$shell" | awk '/Absolute upper-left X:/ { x = $NF }
        /Absolute upper-left Y:/ { y = $NF } /^  Width:/ { w = $NF } /^  Height:/ { h = $NF }
        /Border width:/ { b = $NF } END { print w, h, x, y, b }'))
    shot "dialog-at-${wx}x${wy}"
    [ "${d[2]}" -ge 0 ] && [ "${d[3]}" -ge 0 ] &&
        [ $((d[2] + d[0] + 2 * d[4])) -le "$sw" ] && [ $((d[3] + d[1] + 2 * d[4])) -le "$sh" ] ||
        fail "the dialog (${d[*]}) is not wholly on the ${sw}x$sh screen with the window at $corner"
    key Return
    dialog_closed
done
exit 0
