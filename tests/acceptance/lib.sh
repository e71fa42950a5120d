# Shared helpers of the acceptance scenarios: a private X server, the real
# player started on a simulated drive, and a user's hands (pointer and
# keys through XTest) and eyes (the debug trace, the drive's request log,
# the pixels of the window).
#
# A scenario sources this file, writes its disc with make_disc, calls
# start_player, then clicks and checks.  Everything waits by polling for
# an observable event within ACC_TIMEOUT seconds; a fixed pause is used
# only to make sure that something does NOT happen.  Every X tool runs
# under a time limit and is refused an empty window id (xwininfo and
# xprop would wait for a click on a window instead), and the player's
# windows are found by its process id (_NET_WM_PID), so that no other
# window can be taken for them.
#
# Environment: MURBEL (the player binary, set by ctest), ACC_TIMEOUT
# (seconds per wait, default 20), ACC_X_TIMEOUT (seconds an X tool may
# take, default 15), ACC_KEEP=1 keeps the scratch directory.

set -u -o pipefail

: "${MURBEL:?MURBEL must name the murbel binary}"
ACC_TIMEOUT=${ACC_TIMEOUT:-20}
ACC_X_TIMEOUT=${ACC_X_TIMEOUT:-15}
SCENARIO=$(basename "$0" .sh)

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/murbel-acc.XXXXXX")
DISC=$SCRATCH/disc              # the simulated drive's disc file
REQLOG=$SCRATCH/requests.log    # the drive's request log
INFO=$SCRATCH/info              # the information directory (-cdInfoDir)
OUT=$SCRATCH/stdout             # the player's debug trace
ERR=$SCRATCH/stderr             # the player's error reports
mkdir -p "$INFO"
# What went wrong where fail cannot end the scenario (inside $(...)).
HARNESS_ERRORS=$SCRATCH/harness-errors

XVFB_PID=""
WM_PID=""
PLAYER_PID=""
PLAYER_STATUS=""
SHELL_WIN=""    # the player's main window, once found...
SHELL_WIN_OF="" # ...for this process
TRACE_MARK=0    # trace lines already accounted for
# Trace lines that may come at any time and are skipped by expect_trace
# (an extended regular expression; empty = none).
TRACE_IGNORE=""
# The lines of the layers around the player (the session bus, disc names)
# come whenever a bus, a file or a server answers: skipped too
# (wait_for_trace still finds them).
TRACE_BUS='^(mpris|names): '

# ---- reporting ----------------------------------------------------------

note() { echo "$SCENARIO: $*"; }

fail()
{
    {
        echo "FAIL ($SCENARIO): $*"
        [ -s "$HARNESS_ERRORS" ] && { echo "--- harness errors:"; sort -u "$HARNESS_ERRORS"; }
        echo "--- trace (stdout), last lines; mark at line $TRACE_MARK:"
        [ -f "$OUT" ] && cat -n "$OUT" | tail -n 40
        echo "--- stderr, last lines:"
        [ -f "$ERR" ] && tail -n 15 "$ERR"
        echo "--- drive requests without sub-channel queries (by log line); mark at $REQ_MARK:"
        [ -f "$REQLOG" ] && grep -n -v '^subchannel$' "$REQLOG" | tail -n 30
    } >&2
    exit 1
}

# Ends a child process of the scenario: SIGTERM, then SIGKILL (with a
# word) if it is still there after ten seconds.
end_process()
{
    local pid=$1 what=$2 i
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null
    for ((i = 0; i < 200; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "$SCENARIO: $what (process $pid) did not end on SIGTERM: killed" >&2
        kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
}

cleanup()
{
    local status=$?
    end_process "$PLAYER_PID" "the player"
    end_process "$WM_PID" openbox
    # A scenario's own helpers (audio.sh) end their processes here.
    declare -F extra_cleanup >/dev/null && extra_cleanup
    end_process "$XVFB_PID" Xvfb
    if [ $status -eq 0 ] && [ -s "$HARNESS_ERRORS" ]; then
        echo "FAIL ($SCENARIO): the harness went wrong on the way:" >&2
        sort -u "$HARNESS_ERRORS" >&2
        status=1
    fi
    if [ "${ACC_KEEP:-0}" = 1 ]; then
        echo "scratch kept in $SCRATCH" >&2
    else
        rm -rf "$SCRATCH"
    fi
    [ $status -eq 0 ] && echo "$SCENARIO: passed"
    exit $status
}
trap cleanup EXIT

now_ms() { date +%s%3N; }

# Runs "$@" until it succeeds or ACC_TIMEOUT passes; returns its status.
# A fault of the harness met on the way ends the scenario at once.
poll()
{
    local deadline=$(($(now_ms) + ACC_TIMEOUT * 1000))
    while ! "$@"; do
        [ -s "$HARNESS_ERRORS" ] && fail "while waiting for $*"
        [ "$(now_ms)" -ge $deadline ] && return 1
        sleep "${POLL_SLEEP:-0.05}"
    done
    return 0
}

# A fault of the harness itself: fails the scenario, at once where it can,
# else (in a command substitution) at the next wait or at the end.
harness_error()
{
    echo "$*" >>"$HARNESS_ERRORS"
    [ "$BASHPID" = $$ ] && fail "$*"
    echo "$SCENARIO: $*" >&2
    return 1
}

# ---- outside tools, bounded --------------------------------------------------

# Runs a program for at most ACC_X_TIMEOUT seconds.
bounded()
{
    local status
    timeout -k 2 "$ACC_X_TIMEOUT" "$@"
    status=$?
    if [ $status -eq 124 ] || [ $status -eq 137 ]; then
        harness_error "$* did not answer within $ACC_X_TIMEOUT s"
        return 1
    fi
    return $status
}

# The scenarios call xdotool, xwininfo, xprop and xwd by these names.  No
# argument may be empty (but the text xdotool types): an empty window id
# makes xwininfo and xprop ask for a click and wait for ever.
x_tool()
{
    local a
    [ "$1 ${2:-}" = "xdotool type" ] && { bounded "$@"; return; }
    for a in "$@"; do
        [ -n "$a" ] || { harness_error "$1 called with an empty argument (no window?): $*"; return 1; }
    done
    bounded "$@"
}
xdotool() { x_tool xdotool "$@"; }
xwininfo() { x_tool xwininfo "$@"; }
xprop() { x_tool xprop "$@"; }
xwd() { x_tool xwd "$@"; }

# Window ids of "xdotool search ARGS".  The search walks the whole window
# tree, and a window destroyed under it (the window manager's, another
# program's) makes it fail with BadWindow: such a failed walk is made
# again, as it says nothing about the windows sought.
x_search()
{
    local out status i err=$SCRATCH/search.$BASHPID
    for ((i = 0; i < 50; i++)); do
        out=$(xdotool search "$@" 2>"$err")
        status=$?
        if ! grep -q 'X Error' "$err"; then
            rm -f "$err"
            [ -z "$out" ] || echo "$out"
            return $status
        fi
    done
    harness_error "xdotool search $* kept failing: $(head -n 3 "$err")"
}

# ---- the X server ---------------------------------------------------------

x_ready() { [ -s "$SCRATCH/display" ] && [ "$(wc -l <"$SCRATCH/display")" -ge 1 ]; }

start_x()
{
    # The server writes its display number on fd 3 once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
        3>"$SCRATCH/display" >"$SCRATCH/xvfb.log" 2>&1 &
    XVFB_PID=$!
    poll x_ready || fail "Xvfb gave no display number: $(cat "$SCRATCH/xvfb.log")"
    export DISPLAY=:$(head -n 1 "$SCRATCH/display")
    # Keep the user's own resources out of the player.
    export HOME=$SCRATCH
    unset XENVIRONMENT XAPPLRESDIR XUSERFILESEARCHPATH
    # ...and the player off the user's session bus (bus.sh starts one).
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$SCRATCH/no-session-bus
    # And a resource file installed on this machine: the toolkit uses the
    # build tree's compiled-in resources only when it finds no such file.
    export XFILESEARCHPATH=/dev/null/%N
    poll xwininfo -root >/dev/null 2>&1 || fail "display $DISPLAY does not answer"
}

# Starts openbox, an EWMH window manager that gives each new window the
# focus, and waits until it manages the screen.  It announces itself
# (_NET_SUPPORTING_WM_CHECK) before it has finished starting, and a window
# that asks to be mapped in between may never be: its start-up command,
# run once it has started, is awaited too.
wm_ready()
{
    [ -e "$SCRATCH/wm-started" ] && xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

start_wm()
{
    openbox --sm-disable --startup "touch '$SCRATCH/wm-started'" >"$SCRATCH/wm.log" 2>&1 &
    WM_PID=$!
    poll wm_ready || fail "openbox did not start: $(cat "$SCRATCH/wm.log")"
}

# The window that has the keyboard focus.
focus_window() { xdotool getwindowfocus 2>/dev/null; }

# ---- the disc and the player --------------------------------------------

# Writes the disc file from standard input and turns its request log on.
make_disc()
{
    local file=${1:-$DISC}
    { cat; echo "log $REQLOG"; } >"$file"
}

# Three tracks of three minutes, the first at 00:02:00.
make_three_track_disc()
{
    printf 'track 1 00:02:00\ntrack 2 03:00:00\ntrack 3 06:00:00\nleadout 09:00:00\n' | make_disc "$@"
}

# The windows of process PID (by their _NET_WM_PID) whose WM_CLASS
# instance name is NAME.
windows_of() { x_search --all --pid "$1" --classname "^$2\$"; }

# Finds the current player's main window and keeps it in SHELL_WIN.
find_shell_window()
{
    [ -n "$PLAYER_PID" ] || return 1
    [ -n "$SHELL_WIN" ] && [ "$SHELL_WIN_OF" = "$PLAYER_PID" ] && return 0
    SHELL_WIN=$(windows_of "$PLAYER_PID" murbel | head -n 1)
    SHELL_WIN_OF=$PLAYER_PID
    [ -n "$SHELL_WIN" ]
}

# The current player's main window (by its class, as its title follows
# the disc's names); prints nothing while there is none.
shell_window()
{
    if [ -n "$PLAYER_PID" ] && [ -n "$SHELL_WIN" ] && [ "$SHELL_WIN_OF" = "$PLAYER_PID" ]; then
        echo "$SHELL_WIN"
    elif [ -n "$PLAYER_PID" ]; then
        windows_of "$PLAYER_PID" murbel | head -n 1
    fi
}

# The window's title (WM_NAME) and icon name, in UTF-8.
window_text()
{
    local w
    w=$(shell_window)
    [ -n "$w" ] || return 1
    LC_ALL=C.UTF-8 xprop -id "$w" -notype "$1" 2>/dev/null | sed -n "s/^$1 = \"\\(.*\\)\"\$/\\1/p"
}
window_title() { window_text WM_NAME; }
icon_name() { window_text WM_ICON_NAME; }

# Waits until the window's title and icon name are TEXT.
expect_window_title()
{
    title_is() { [ "$(window_title)" = "$1" ] && [ "$(icon_name)" = "$1" ]; }
    poll title_is "$1" || fail "the window's title is \"$(window_title)\" (icon \"$(icon_name)\"), not \"$1\""
}

window_viewable()
{
    find_shell_window && xwininfo -id "$SHELL_WIN" 2>/dev/null | grep -q 'Map State: IsViewable'
}

player_running() { [ -n "$PLAYER_PID" ] && kill -0 "$PLAYER_PID" 2>/dev/null; }

window_or_exit() { window_viewable || ! player_running; }

# Starts the player on the simulated drive (or on DEVICE when set) with
# the trace on and waits until its window is on the screen.  Extra
# arguments go to the player.  The information directory is INFO, given
# with -cdInfoDir unless NO_CDINFODIR=1.
start_player()
{
    local info=(-cdInfoDir "$INFO")
    [ "${NO_CDINFODIR:-0}" = 1 ] && info=()
    "$MURBEL" -debug -device "${DEVICE:-sim:$DISC}" "${info[@]}" "$@" >>"$OUT" 2>>"$ERR" &
    PLAYER_PID=$!
    PLAYER_STATUS=""
    SHELL_WIN=""
    poll window_or_exit || fail "the player's window did not appear"
    player_running || fail "the player ended at start-up"
}

# Waits until the player has ended; its exit status goes to PLAYER_STATUS.
wait_player_exit()
{
    poll eval '! player_running' || fail "the player did not end"
    wait "$PLAYER_PID"
    PLAYER_STATUS=$?
    PLAYER_PID=""
}

# ---- finding widgets ------------------------------------------------------
#
# Athena widget windows carry no names, so widgets are found by their place
# in the window tree.  xwininfo lists siblings from the top of the stacking
# order down; Xt realizes a composite's children last to first, and a new
# window goes on top of its siblings, so for every window made when the
# shell is realized the listing follows the order in which the widgets
# were created.  Windows made later (the program's selections, the title
# dialog's text field) are told apart by their position instead.

# Direct children of a window, one per line: "id width height x y", x and
# y absolute (the outer corner, border included).
children()
{
    [ -n "$1" ] || return 1
    xwininfo -children -id "$1" 2>/dev/null | awk '
        /^ +0x[0-9a-f]+ / {
            split($(NF-1), g, /[x+-]/)
            split($NF, a, /[+]/)
            print $1, g[1], g[2], a[2], a[3]
        }'
}

nth_child() { [ -n "$1" ] && children "$1" | sed -n "${2}p" | cut -d' ' -f1; }
child_count() { [ -n "$1" ] && children "$1" | wc -l || echo 0; }

# The child of a viewport that holds its content (the clip window; a
# scroll bar made later has no children).
viewport_content()
{
    local c
    for c in $(children "$1" | cut -d' ' -f1); do
        if [ "$(child_count "$c")" -gt 0 ]; then
            nth_child "$c" 1
            return
        fi
    done
}

main_form() { nth_child "$(shell_window)" 1; }
logo_form() { nth_child "$(main_form)" 1; }
buttons_form() { nth_child "$(main_form)" 2; }
program_form() { nth_child "$(main_form)" 3; }
select_form() { nth_child "$(program_form)" 5; }
program_display_form() { viewport_content "$(nth_child "$(program_form)" 1)"; }
title_shell() { [ -n "$PLAYER_PID" ] && windows_of "$PLAYER_PID" titleShell | head -n 1; }
title_dialog() { nth_child "$(title_shell)" 1; }

# The logo area has one child less when there is no time display.
logo_child()
{
    local form n
    form=$(logo_form)
    [ -n "$form" ] || return 1
    n=$(child_count "$form")
    case $1 in
    logoLabel) nth_child "$form" 1 ;;
    versionLabel) nth_child "$form" 2 ;;
    ledsLabel) nth_child "$form" 3 ;;
    trackButton) nth_child "$form" 4 ;;
    timerButton) [ "$n" -eq 7 ] && nth_child "$form" 5 ;;
    volumeScrollbar) nth_child "$form" $((n - 1)) ;;
    titleBarViewport) nth_child "$form" "$n" ;;
    esac
}

BUTTON_NAMES=(playButton pauseButton stopButton prevButton nextButton ejectButton
              quitButton cycleButton shuffleButton rewButton ffButton pgmButton)
SELECT_NAMES=(1 2 3 4 5 6 7 8 9 +10 tens All)

# Window id of a widget.  Names are the widget names; besides them:
# "tens" is the tens display, "selection N" the N-th toggle of the
# program row (0 = the leading blank one), "dialogLabel", "dialogValue"
# and "Done" the parts of the title dialog.
widget()
{
    local name=$1 i
    for i in "${!BUTTON_NAMES[@]}"; do
        [ "${BUTTON_NAMES[$i]}" = "$name" ] && { nth_child "$(buttons_form)" $((i + 1)); return; }
    done
    for i in "${!SELECT_NAMES[@]}"; do
        [ "${SELECT_NAMES[$i]}" = "$name" ] && { nth_child "$(select_form)" $((i + 1)); return; }
    done
    case $name in
    mainForm) main_form ;;
    logoForm) logo_form ;;
    buttonsForm) buttons_form ;;
    programForm) program_form ;;
    logoLabel | versionLabel | ledsLabel | trackButton | timerButton | volumeScrollbar | titleBarViewport)
        logo_child "$name" ;;
    titleBar) nth_child "$(viewport_content "$(logo_child titleBarViewport)")" 1 ;;
    Clear) nth_child "$(program_form)" 2 ;;
    Cancel) nth_child "$(program_form)" 3 ;;
    Save) nth_child "$(program_form)" 4 ;;
    "selection "*)
        children "$(program_display_form)" | sort -n -k4 | sed -n "$((${name#selection } + 1))p" | cut -d' ' -f1 ;;
    dialogLabel) children "$(title_dialog)" | sort -n -k5 | sed -n 1p | cut -d' ' -f1 ;;
    dialogValue) children "$(title_dialog)" | sort -n -k5 | sed -n 2p | cut -d' ' -f1 ;;
    Done) children "$(title_dialog)" | sort -n -k5 | sed -n 3p | cut -d' ' -f1 ;;
    *) return 1 ;;
    esac
}

# "width height x y border" of a widget's window: x and y are those of
# its outer corner (xwininfo counts the border in), absolute.
widget_geometry()
{
    local w
    w=$(widget "$1")
    [ -n "$w" ] || fail "no widget $1 in the window tree"
    xwininfo -id "$w" | awk '
        /Absolute upper-left X:/ { x = $NF }
        /Absolute upper-left Y:/ { y = $NF }
        /^  Width:/ { wd = $NF }
        /^  Height:/ { ht = $NF }
        /Border width:/ { bw = $NF }
        END { print wd, ht, x, y, bw }'
}

# Prints the absolute x and y of the middle of a widget.
widget_center()
{
    local g
    g=($(widget_geometry "$1"))
    echo $((g[2] + g[4] + g[0] / 2)) $((g[3] + g[4] + g[1] / 2))
}

# Prints the absolute x and y of the point DX, DY of a widget (from the
# upper-left corner inside its border, as its events count).
widget_point()
{
    local g
    g=($(widget_geometry "$1"))
    echo $((g[2] + g[4] + $2)) $((g[3] + g[4] + $3))
}

# Number of selections in the program row (the leading toggle left out).
selection_count() { echo $(($(child_count "$(program_display_form)") - 1)); }

# A widget is shown when its window is mapped and lies inside the main
# window (a child that the shell did not grow for is mapped but cut off).
widget_shown()
{
    widget_viewable "$1" || return 1
    local g s
    g=($(widget_geometry "$1"))
    find_shell_window || fail "the player's window is gone"
    s=($(xwininfo -id "$SHELL_WIN" | awk '/Absolute upper-left X:/ { x = $NF }
        /Absolute upper-left Y:/ { y = $NF } /^  Width:/ { w = $NF } /^  Height:/ { h = $NF }
        END { print w, h, x, y }'))
    [ $((g[2] + g[0] + 2 * g[4])) -le $((s[2] + s[0])) ] &&
        [ $((g[3] + g[1] + 2 * g[4])) -le $((s[3] + s[1])) ]
}

widget_viewable()
{
    local w
    w=$(widget "$1") && [ -n "$w" ] && xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# ---- hands ---------------------------------------------------------------

# Clicks a widget with a mouse button (default 1) in its middle, or at
# DX,DY from its upper-left corner (inside the border) when given.
click()
{
    local name=$1 button=${2:-1} x y
    if [ $# -ge 4 ]; then
        read -r x y < <(widget_point "$name" "$3" "$4")
    else
        read -r x y < <(widget_center "$name")
    fi
    xdotool mousemove "$x" "$y" click "$button" || fail "could not click $name"
}

# Rewind and fast-forward are toggles: one click holds them on, the next
# lets them go.
hold() { click "$1"; }
let_go() { click "$1"; }

# Opens the title dialog with a click on the title bar.
open_title_dialog()
{
    click titleBar
    poll widget_viewable dialogValue || fail "the title dialog did not open"
}

# Waits until the title dialog has gone.
dialog_closed() { poll eval '! widget_viewable dialogValue' || fail "the title dialog stayed up"; }

# Types into the title dialog's text field, replacing its text.
dialog_type()
{
    read -r x y < <(widget_center dialogValue)
    xdotool mousemove "$x" "$y" key ctrl+a ctrl+k || fail "no text field"
    xdotool type --delay 20 "$1"
}

# Keys go to the window under the pointer when no window manager gives
# focus, else to the focused window.
key() { xdotool key "$@"; }

# Return in the title dialog's text field.
dialog_return()
{
    read -r x y < <(widget_center dialogValue)
    xdotool mousemove "$x" "$y" key Return || fail "no text field"
}

# ---- eyes: the trace -------------------------------------------------------

trace_lines() { [ -f "$OUT" ] && wc -l <"$OUT" || echo 0; }

# The trace after the mark, with the ignorable lines left out, numbered
# by their line in the file ("N<TAB>text").
trace_after_mark()
{
    awk -v from="$TRACE_MARK" -v ign="$TRACE_IGNORE" -v bus="$TRACE_BUS" \
        'NR > from && $0 !~ bus && (ign == "" || $0 !~ ign) { print NR "\t" $0 }' "$OUT"
}

# Forgets the trace so far: later expectations look only at what follows.
trace_mark() { TRACE_MARK=$(trace_lines); }

# Waits until LINE appears after the mark, skipping whatever comes before
# it, and moves the mark past it.
wait_for_trace()
{
    local line=$1 found=""
    find_trace() { found=$(awk -v from="$TRACE_MARK" -v want="$line" \
        'NR > from && $0 == want { print NR; exit }' "$OUT"); [ -n "$found" ]; }
    poll find_trace || fail "trace line never came: \"$line\""
    TRACE_MARK=$found
}

# Waits for a trace line after the mark that matches an extended regular
# expression, skipping whatever comes before it; the line goes to
# TRACE_MATCH and the mark moves past it.
TRACE_MATCH=""
wait_for_trace_matching()
{
    local re=$1 found=""
    find_match() { found=$(awk -v from="$TRACE_MARK" -v re="$re" \
        'NR > from && $0 ~ re { print NR "\t" $0; exit }' "$OUT"); [ -n "$found" ]; }
    poll find_match || fail "no trace line matching $re"
    TRACE_MARK=${found%%$'\t'*}
    TRACE_MATCH=${found#*$'\t'}
}

# Waits for the next trace lines after the mark (ignorable ones left out)
# and checks that they are exactly the given lines, in order.
expect_trace()
{
    local n=$# got expected
    enough_trace() { [ "$(trace_after_mark | wc -l)" -ge "$n" ]; }
    poll enough_trace || true
    got=$(trace_after_mark | head -n "$n")
    expected=$(printf '%s\n' "$@")
    if [ "$(cut -f2- <<<"$got")" != "$expected" ]; then
        fail "trace differs; expected:
$expected
got:
$(cut -f2- <<<"$got")"
    fi
    TRACE_MARK=$(tail -n 1 <<<"$got" | cut -f1)
}

# Waits for the next trace line after the mark (ignorable ones left out)
# and prints it, leaving the mark where it is.
next_trace_line()
{
    has_next() { [ -n "$(trace_after_mark | head -n 1)" ]; }
    poll has_next || fail "no further trace line"
    trace_after_mark | head -n 1 | cut -f2-
}

# Checks that no trace line (ignorable ones left out) came after the mark.
expect_no_trace()
{
    local extra
    extra=$(trace_after_mark | cut -f2-)
    [ -z "$extra" ] || fail "unexpected trace lines:
$extra"
}

trace_count() { grep -cFx -- "$1" "$OUT"; }

# ---- eyes: the drive -------------------------------------------------------

REQ_MARK=0      # lines of the request log already accounted for
# Requests that may come at any time and are skipped by expect_requests,
# besides the sub-channel queries (an extended regular expression).
REQ_IGNORE=""

# The requests after the mark, sub-channel queries and ignorable ones left
# out, numbered by their line in the log ("N<TAB>request").
requests_after_mark()
{
    [ -f "$REQLOG" ] || return 0
    awk -v from="$REQ_MARK" -v ign="$REQ_IGNORE" \
        'NR > from && $0 != "subchannel" && (ign == "" || $0 !~ ign) { print NR "\t" $0 }' "$REQLOG"
}

# All requests so far, sub-channel queries left out.
requests() { [ -f "$REQLOG" ] && grep -v '^subchannel$' "$REQLOG"; }
subchannel_count() { [ -f "$REQLOG" ] && grep -c '^subchannel$' "$REQLOG" || echo 0; }
request_mark() { REQ_MARK=$([ -f "$REQLOG" ] && wc -l <"$REQLOG" || echo 0); }

# Waits for the next requests after the mark and checks that they are
# exactly the given ones, in order; moves the mark past them.
expect_requests()
{
    local n=$# got expected
    enough_requests() { [ "$(requests_after_mark | wc -l)" -ge "$n" ]; }
    poll enough_requests || true
    got=$(requests_after_mark | head -n "$n")
    expected=$(printf '%s\n' "$@")
    [ "$(cut -f2- <<<"$got")" = "$expected" ] || fail "drive requests differ; expected:
$expected
got:
$(cut -f2- <<<"$got")"
    REQ_MARK=$(tail -n 1 <<<"$got" | cut -f1)
}

# Checks that no request (ignorable ones left out) came after the mark.
expect_no_requests()
{
    local extra
    extra=$(requests_after_mark | cut -f2-)
    [ -z "$extra" ] || fail "unexpected drive requests:
$extra"
}

# Waits until the drive has answered N more sub-channel queries: time
# has passed in the player's play timer.
wait_for_queries()
{
    local target=$(($(subchannel_count) + $1))
    enough_queries() { [ "$(subchannel_count)" -ge $target ]; }
    poll enough_queries || fail "the player stopped asking the drive where it is"
}

# Every event before this point has been handled: the cycle button is
# clicked twice (it only logs and flips a flag) and both lines awaited.
barrier()
{
    click cycleButton
    wait_for_trace_matching '^cb_cdrom_cycle: cycle (on|off)$'
    click cycleButton
    wait_for_trace_matching '^cb_cdrom_cycle: cycle (on|off)$'
}

# ---- eyes: the window ------------------------------------------------------

# Takes the picture of a widget's window, border left out, into FILE (in
# xwd's format) and reads its header: XWD_DATA is where the pixels begin,
# XWD_W and XWD_H the size, XWD_BPL the bytes per line; pixels are 4
# bytes, blue green red first when XWD_LSB is 1.
grab()
{
    local w hs nc bpp order
    w=$(widget "$1") && [ -n "$w" ] || fail "no widget $1"
    xwd -nobdrs -silent -id "$w" >"$2" 2>/dev/null || return 1
    read -r hs XWD_W XWD_H order bpp XWD_BPL nc < <(od -A n -v -t u1 -N 80 "$2" | awk '
        { for (i = 1; i <= NF; i++) b[n++] = $i }
        END {
            split("0 16 20 28 44 48 76", at, " ")
            for (k = 1; k <= 7; k++) {
                o = at[k]
                printf "%d ", b[o] * 16777216 + b[o + 1] * 65536 + b[o + 2] * 256 + b[o + 3]
            }
            print ""
        }')
    [ "$bpp" = 32 ] || fail "the screen has $bpp bits per pixel, not 32"
    XWD_DATA=$((hs + nc * 12))
    XWD_LSB=$((order == 0))
}

# "r g b" of the pixel X, Y of a widget's window (border left out).
pixel()
{
    local file=$SCRATCH/pixel.xwd
    grab "$1" "$file" || return 1
    od -A n -t u1 -j $((XWD_DATA + $3 * XWD_BPL + $2 * 4)) -N 4 "$file" |
        awk -v lsb="$XWD_LSB" '{ if (lsb) print $3, $2, $1; else print $2, $3, $4 }'
}

# A toggle that is on is drawn reversed: its margin takes the foreground
# colour.  Row 2 of the margin lies below the pointer's highlight.  The
# shipped resources draw the button row dark on light, the displays and
# the program's selections light on dark.
toggle_state()
{
    local name=$1 g rgb sum
    g=($(widget_geometry "$name"))
    rgb=($(pixel "$name" $((g[0] / 2)) 2)) || return 1
    sum=$((rgb[0] + rgb[1] + rgb[2]))
    case $name in
    trackButton | timerButton | "selection "*) [ $sum -gt 300 ] && echo on || echo off ;;
    *) [ $sum -lt 300 ] && echo on || echo off ;;
    esac
}

# Waits until each NAME=on|off holds.
expect_toggles()
{
    local pair name want
    for pair in "$@"; do
        name=${pair%=*}
        want=${pair##*=}
        state_is() { [ "$(toggle_state "$name")" = "$want" ]; }
        poll state_is || fail "$name should be $want, is $(toggle_state "$name")"
    done
}

# Saves the pixels of a widget and its size (not the rest of the header,
# which names places).
snapshot()
{
    grab "$1" "$2.xwd" || fail "no picture of $1"
    { echo "$XWD_W x $XWD_H"; tail -c +$((XWD_DATA + 1)) "$2.xwd"; } >"$2"
    rm -f "$2.xwd"
}

# Saves the ink of a widget's label: a mask of the pixels that differ from
# its most common colour, so that a toggle's text gives the same ink on
# and off.  Callers move the pointer away first: a highlight is ink too.
ink()
{
    grab "$1" "$2.xwd" || fail "no picture of $1"
    od -A n -v -t u1 -j "$XWD_DATA" "$2.xwd" | awk -v w="$XWD_W" -v h="$XWD_H" -v bpl="$XWD_BPL" '
        { for (i = 1; i <= NF; i++) b[n++] = $i }
        END {
            for (y = 0; y < h; y++)
                for (x = 0; x < w; x++) {
                    o = y * bpl + x * 4
                    c[y, x] = b[o] " " b[o + 1] " " b[o + 2]
                    count[c[y, x]]++
                }
            for (k in count) if (count[k] > best) { best = count[k]; bg = k }
            for (y = 0; y < h; y++) {
                row = ""
                for (x = 0; x < w; x++) row = row (c[y, x] == bg ? "." : "#")
                print row
            }
        }' >"$2"
    rm -f "$2.xwd"
}

pointer_away() { read -r x y < <(widget_center logoLabel); xdotool mousemove "$x" "$y"; }

# Waits until a widget's label has the same ink as a saved one.
expect_ink_like()
{
    local name=$1 ref=$2 what=$3
    pointer_away
    same_ink() { ink "$name" "$SCRATCH/ink.now" && cmp -s "$SCRATCH/ink.now" "$ref"; }
    poll same_ink || fail "$name does not show $what:
$(cat "$SCRATCH/ink.now")
expected:
$(cat "$ref")"
}

# Saves a widget's ink once it has stopped changing.
settled_ink()
{
    pointer_away
    ink "$1" "$2.a"
    settled() { ink "$1" "$2" && cmp -s "$2" "$2.a" || { cp "$2" "$2.a"; false; }; }
    poll settled "$1" "$2" || fail "$1 keeps changing"
}

# Waits until a widget looks exactly like a saved snapshot.
expect_looks_like()
{
    local name=$1 ref=$2 what=$3
    same_look() { snapshot "$name" "$SCRATCH/look.now" && cmp -s "$SCRATCH/look.now" "$ref"; }
    poll same_look || fail "$name does not show $what"
}
