#!/usr/bin/env bash
# Hundreds of discs through the real player, holding its open descriptors
# and its resident size steady.
#
# Each cycle goes through the buttons: Eject (in program mode, so the
# program's selections are destroyed and the information file held), the
# disc put back (its file touched), then the program button (which only
# restores the buttons' looks after the press that entered program mode),
# Play (a new disc: the drive opened, its table of contents and
# information file read, playback started), the program button again
# (program mode with the stored program: new selections) and Save (the
# information file rewritten and held).
#
# The descriptors (/proc/PID/fd) and VmRSS are read after LEAK_WARMUP
# cycles (the baseline: the toolkit's caches fill during the first ones),
# in the middle and at the end.  Fails when the descriptors grow at all or
# the resident size grows by more than LEAK_RSS_KB (default 200 kB).
#
# Environment: MURBEL, LEAK_CYCLES (300), LEAK_WARMUP (20), LEAK_RSS_KB,
# LEAK_EVERY (print the figures every so many cycles).
source "$(dirname "$0")/../acceptance/lib.sh"

CYCLES=${LEAK_CYCLES:-300}
WARMUP=${LEAK_WARMUP:-20}
RSS_SLACK_KB=${LEAK_RSS_KB:-200}
[ "$CYCLES" -gt "$WARMUP" ] || fail "LEAK_CYCLES must exceed LEAK_WARMUP"

make_three_track_disc

start_x
start_player
wait_for_trace "cdrom_get_curtrack: no status"

descriptors() { ls "/proc/$PLAYER_PID/fd" | wc -l; }
resident_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$PLAYER_PID/status"; }
sample() { echo "$1 $(descriptors) $(resident_kb)"; }

# The first disc: a program stored for it, so that every later disc
# finds an information file with a program in it.
click playButton
wait_for_trace "cdrom_play: starting track 1"
click pgmButton
wait_for_trace "cb_cdrom_program: program on"
click 2
click 3
click 1
wait_for_trace "adding track 1 to program"
click Save
wait_for_trace_matching '^program saved to '

# The buttons stay where they are: find them once.  (xdotool's "click"
# waits a tenth of a second after the press; the press and release alone
# make the same click.)
CLICK="mousedown 1 mouseup 1"
read -r ex ey < <(widget_center ejectButton)
read -r gx gy < <(widget_center pgmButton)
read -r px py < <(widget_center playButton)
read -r sx sy < <(widget_center Save)
save_window=$(widget Save)
save_viewable() { xwininfo -id "$save_window" | grep -q 'Map State: IsViewable'; }

start=$(sample 0)
note "before the first cycle: descriptors $(cut -d' ' -f2 <<<"$start"), VmRSS $(cut -d' ' -f3 <<<"$start") kB"
baseline="" middle=""
# The disc goes back once the drive has been told to eject: the trace line
# comes before that request, and a touch the drive saw before it would be
# taken by the eject.
tray_opened() { requests_after_mark | cut -f2 | grep -qx eject; }
for k in $(seq "$CYCLES"); do
    request_mark
    xdotool mousemove "$ex" "$ey" $CLICK
    wait_for_trace "program mode cancelled"
    poll tray_opened || fail "the drive was not told to eject in cycle $k"
    touch "$DISC"
    xdotool mousemove "$gx" "$gy" $CLICK mousemove "$px" "$py" $CLICK mousemove "$gx" "$gy" $CLICK
    wait_for_trace "using stored program"
    # Save is pressed once the program window is up to receive the press.
    poll save_viewable || fail "the program window did not come back in cycle $k"
    xdotool mousemove "$sx" "$sy" $CLICK
    wait_for_trace_matching '^program saved to '
    player_running || fail "the player ended in cycle $k"
    [ -n "${LEAK_EVERY:-}" ] && [ $((k % LEAK_EVERY)) = 0 ] && note "cycle $(sample "$k")"
    [ "$k" = "$WARMUP" ] && baseline=$(sample "$k")
    [ "$k" = $(((CYCLES + WARMUP) / 2)) ] && middle=$(sample "$k")
done
end=$(sample "$CYCLES")

[ "$(trace_count "cb_cdrom_eject: ejecting on track 1")" -ge "$CYCLES" ] ||
    fail "fewer ejects on track 1 than cycles: $(trace_count "cb_cdrom_eject: ejecting on track 1")"

for s in "$baseline" "$middle" "$end"; do
    read -r k fds rss <<<"$s"
    note "after cycle $k: descriptors $fds, VmRSS $rss kB"
done
read -r _ fds0 rss0 <<<"$baseline"
read -r _ fds1 rss1 <<<"$end"
[ "$fds1" -le "$fds0" ] || fail "descriptors grew from $fds0 to $fds1: $(ls -l "/proc/$PLAYER_PID/fd")"
[ $((rss1 - rss0)) -le "$RSS_SLACK_KB" ] ||
    fail "VmRSS grew by $((rss1 - rss0)) kB (from $rss0 to $rss1 kB) over $((CYCLES - WARMUP)) cycles"

click quitButton
wait_for_trace "cb_cdrom_quit: bye"
wait_player_exit
[ "$PLAYER_STATUS" = 0 ] || fail "quit ended the player with status $PLAYER_STATUS"
exit 0
