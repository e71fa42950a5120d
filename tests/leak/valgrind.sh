#!/usr/bin/env bash
# The real player under valgrind's memcheck through a session that touches
# every owner of memory and files: play, pause and resume, next and
# previous, fast-forward, eject and the poll of the empty drive, a new
# disc, program mode (selections made and destroyed, the stored program
# read back), the title dialog, Save, Cancel, shuffle, and Quit.
#
# Fails on any memcheck error or leak (definitely or indirectly lost)
# whose stack passes through the player's own sources; on a descriptor
# left open at exit other than the standard three, the display connection
# and the held information file of the disc in the drive (descriptors the
# player inherited aside); and on a quit that does not end the process
# with status 0.  Faults wholly inside the X libraries would be listed in
# tests/valgrind.supp.
#
# Environment: MURBEL (the player), VALGRIND_LOG (keep the log there).
source "$(dirname "$0")/../acceptance/lib.sh"

SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
VGLOG=${VALGRIND_LOG:-$SCRATCH/valgrind.log}
ACC_TIMEOUT=${ACC_TIMEOUT:-120}   # everything runs some 20 times slower
command -v valgrind >/dev/null || fail "valgrind is not installed"

# The scenario's helpers start "$MURBEL"; under valgrind it is a wrapper.
REAL_MURBEL=$MURBEL
MURBEL=$SCRATCH/murbel-under-valgrind
cat >"$MURBEL" <<EOF
#!/bin/sh
exec valgrind --tool=memcheck --leak-check=full \\
    --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \\
    --track-fds=yes --num-callers=40 --fullpath-after= --gen-suppressions=all \\
    --suppressions="$SOURCE/tests/valgrind.supp" --log-file="$VGLOG" \\
    "$REAL_MURBEL" "\$@"
EOF
chmod +x "$MURBEL"

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
track 3 06:00:00
leadout 09:00:00
speed 20
DISC

start_x
start_player
wait_for_trace "cdrom_get_curtrack: no status"

click playButton
wait_for_trace "cdrom_play: starting track 1"
wait_for_queries 8
click pauseButton
wait_for_trace "cb_cdrom_pause: pausing on track 1"
click pauseButton
wait_for_trace "cb_cdrom_pause: resuming track 1"
click nextButton
wait_for_trace "cdrom_play: starting track 2"
click prevButton
wait_for_trace_matching '^cdrom_play: starting track [12]$'
hold ffButton
wait_for_queries 6
let_go ffButton
barrier

# Eject, the poll of the empty drive, and the disc back in.
click ejectButton
wait_for_trace_matching '^cb_cdrom_eject: ejecting on track [0-9]+$'
wait_for_trace "cdrom_open: cdrom not ready"
touch "$DISC"
wait_for_trace "cdrom_get_curtrack: no status"

# A program, a title and a save.
click pgmButton
wait_for_trace "cb_cdrom_program: program on"
click 2
click 3
click 1
wait_for_trace "adding track 1 to program"
open_title_dialog
dialog_type "Leaks"
dialog_return
dialog_closed
click Save
wait_for_trace_matching '^program saved to '
click playButton
wait_for_trace "cdrom_play: starting track 2"
wait_for_queries 4

# Eject in program mode destroys the selections; the new disc reads the
# saved program back into new ones.
click ejectButton
wait_for_trace "program mode cancelled"
touch "$DISC"
click pgmButton   # the press after the one that entered program mode: looks only
click pgmButton
wait_for_trace "using stored program"
[ "$(selection_count)" = 3 ] || fail "the stored program gave $(selection_count) selections, not 3"
click "selection 3"
click "selection 3"
wait_for_trace "deleting selection from program"
click Cancel
wait_for_trace "program mode cancelled"

click shuffleButton
barrier
click playButton
wait_for_trace_matching '^cdrom_play: starting track [123]$'
wait_for_queries 4

click quitButton
wait_for_trace "cb_cdrom_quit: bye"
wait_player_exit
[ "$PLAYER_STATUS" = 0 ] || fail "quit ended the player with status $PLAYER_STATUS"

# ---- the verdict -------------------------------------------------------------

[ -s "$VGLOG" ] || fail "valgrind wrote no log"
grep -q 'ERROR SUMMARY' "$VGLOG" || fail "valgrind's log has no summary: $(tail -n 5 "$VGLOG")"

# Each error or loss record runs from its heading to the next blank line.
# A record counts as the player's when one of its frames lies in the
# player's sources (of whichever tree the binary was built from); main's
# call of the event loop, under every callback, does not count.
own=$(awk '
    /^==[0-9]+== *$/ { if (rec != "" && mine) print rec "\n"; rec = ""; mine = 0; next }
    /^==[0-9]+== / {
        line = $0; sub(/^==[0-9]+== /, "", line)
        if (rec == "" && line !~ /^(Invalid|Conditional|Use of|Syscall param|Mismatched|Source and destination|Argument|.* are (definitely|indirectly) lost)/)
            next
        rec = rec line "\n"
        if (line ~ /\/src\/(app|disc|drive|playback|program|ui)\/[^ ]+:[0-9]+\)$/ && line !~ /\/src\/app\/main\.cpp:/)
            mine = 1
    }
    END { if (rec != "" && mine) print rec }' "$VGLOG")

echo "--- valgrind summary"
sed -n '/HEAP SUMMARY/,$p' "$VGLOG" | sed 's/^==[0-9]*== //' |
    grep -E '^ *(in use at exit|definitely lost|indirectly lost|possibly lost|still reachable|suppressed):|ERROR SUMMARY'
echo "--- descriptors open at exit"
sed -n '/FILE DESCRIPTORS/,/HEAP SUMMARY/p' "$VGLOG" | sed 's/^==[0-9]*== //' |
    grep -E -A1 'FILE DESCRIPTORS|^Open ' | grep -E 'FILE DESCRIPTORS|^Open |inherited' | sed 's/^ */    /; s/^    \(FILE\|Open\)/\1/'

[ -z "$own" ] || fail "memcheck found faults in the player's own code:
$own"

# Besides standard input, output and error and what the player inherited:
# the display connection, which the process ends with, and the held
# information file of the disc in the drive; nothing else.
extra=$(awk -v info="$INFO/cd." '
    function flush() {
        if (rec != "" && !allowed)
            print rec
        rec = ""
    }
    /FILE DESCRIPTORS/ { on = 1; next }
    !on { next }
    { line = $0; sub(/^==[0-9]+== ?/, "", line) }
    line ~ /^Open / {
        flush()
        rec = line
        allowed = line ~ /^Open file descriptor [012]:/ ||
                  line ~ /^Open AF_UNIX socket [0-9]+: (<unknown>|.*X11-unix)/ ||
                  index(line, ": " info) > 0
        next
    }
    line ~ /inherited from parent/ { allowed = 1 }
    line == "" { flush(); next }
    rec != "" { rec = rec "\n    " line }
    END { flush() }' "$VGLOG")
[ -z "$extra" ] || fail "descriptors left open at exit besides the display:
$extra"
exit 0
