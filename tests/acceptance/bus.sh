# The session bus of the MPRIS scenarios: a private dbus-daemon of their
# own, and the desktop's side of it (playerctl, dbus-send, dbus-monitor).
# Sourced after lib.sh.

BUS_PID=""
MONITOR_PID=""
MPRIS=org.mpris.MediaPlayer2
PLAYER_IFACE=org.mpris.MediaPlayer2.Player

stop_bus()
{
    [ -n "$MONITOR_PID" ] && kill "$MONITOR_PID" 2>/dev/null
    [ -n "$BUS_PID" ] && kill "$BUS_PID" 2>/dev/null
    MONITOR_PID=""
    BUS_PID=""
}
# The player goes first (lib.sh's cleanup), then the bus.
trap 'status=$?; [ -n "$PLAYER_PID" ] && kill "$PLAYER_PID" 2>/dev/null && wait "$PLAYER_PID" 2>/dev/null; stop_bus; (exit $status); cleanup' EXIT

start_bus()
{
    dbus-daemon --session --fork --print-address=3 --print-pid=4 \
        3>"$SCRATCH/bus.address" 4>"$SCRATCH/bus.pid" 2>"$SCRATCH/bus.log" ||
        fail "no dbus-daemon: $(cat "$SCRATCH/bus.log")"
    BUS_PID=$(head -n 1 "$SCRATCH/bus.pid")
    export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$SCRATCH/bus.address")
    [ -n "$DBUS_SESSION_BUS_ADDRESS" ] || fail "dbus-daemon gave no address"
}

# Waits until the player has its name on the bus (its trace says which).
wait_on_bus()
{
    wait_for_trace_matching "^mpris: on the session bus as ${1:-$MPRIS.murbel}\$"
}

# The desktop's tools answer within ACC_X_TIMEOUT seconds, or the
# scenario fails saying which did not.
playerctl() { bounded playerctl "$@"; }
busctl() { bounded busctl "$@"; }
dbus-send() { bounded dbus-send "$@"; }
gdbus() { bounded gdbus "$@"; }

pctl() { playerctl -p murbel "$@"; }

# Waits until playerctl reads VALUE back for a command (status, loop, ...).
expect_pctl()
{
    local want=$1 got=""
    shift
    reads() { got=$(pctl "$@" 2>&1); [ "$got" = "$want" ]; }
    poll reads "$@" || fail "playerctl $* gives \"$got\", not \"$want\""
}

# Waits until the current track's id is one of track N of a disc
# (/org/murbel/disc/D/track/N); its id goes to TRACKID, the part before N
# to TRACK_PREFIX.
TRACKID=""
TRACK_PREFIX=""
expect_track()
{
    local n=$1
    is_track() { TRACKID=$(pctl metadata mpris:trackid 2>&1 | tr -d "'")
        [[ $TRACKID =~ ^/org/murbel/disc/[0-9]+/track/$n$ ]]; }
    poll is_track || fail "the track id is \"$TRACKID\", not one of track $n"
    TRACK_PREFIX=${TRACKID%$n}
}

# A method call through dbus-send; its reply (or error) goes to REPLY and
# the exit status is dbus-send's.
REPLY=""
call()
{
    local method=$1
    shift
    REPLY=$(dbus-send --session --print-reply --reply-timeout=5000 --dest=$MPRIS.murbel \
        /org/mpris/MediaPlayer2 "$method" "$@" 2>&1)
}

# Expects a call to fail with the given D-Bus error name.
expect_error()
{
    local name=$1
    shift
    call "$@" && fail "$* was accepted: $REPLY"
    grep -q "^Error $name" <<<"$REPLY" || fail "$* failed otherwise than $name: $REPLY"
}

# Records the player's PropertiesChanged and Seeked signals.
start_monitor()
{
    dbus-monitor --session "type='signal',path='/org/mpris/MediaPlayer2'" \
        >"$SCRATCH/monitor" 2>&1 &
    MONITOR_PID=$!
    monitor_ready() { grep -q 'member=NameAcquired\|NameAcquired' "$SCRATCH/monitor"; }
    poll monitor_ready || fail "dbus-monitor did not start: $(cat "$SCRATCH/monitor")"
    MONITOR_MARK=$(wc -l <"$SCRATCH/monitor")
}

# Waits until a signal after the mark names PROPERTY with a value line
# matching the regular expression VALUE; moves the mark past it.
expect_signal()
{
    local property=$1 value=$2 at=""
    found_signal() { at=$(awk -v from="$MONITOR_MARK" -v p="\"$property\"" -v v="$value" '
        /^signal/ { sig = /member=PropertiesChanged/; want = 0 }
        NR > from && sig && index($0, p) { want = 1; next }
        NR > from && sig && want && $0 ~ v { print NR; exit }' "$SCRATCH/monitor"); [ -n "$at" ]; }
    poll found_signal || fail "no PropertiesChanged of $property matching $value:
$(tail -n +$((MONITOR_MARK + 1)) "$SCRATCH/monitor" | tail -n 40)"
    MONITOR_MARK=$at
}

expect_seeked()
{
    local at=""
    found_seeked() { at=$(awk -v from="$MONITOR_MARK" 'NR > from && /member=Seeked/ { print NR; exit }' \
        "$SCRATCH/monitor"); [ -n "$at" ]; }
    poll found_seeked || fail "no Seeked signal"
    MONITOR_MARK=$at
}

# Waits for a drive request after the mark matching an extended regular
# expression; moves the mark past it.
expect_request_like()
{
    local re=$1 found=""
    find_request() { found=$(requests_after_mark | awk -F'\t' -v re="$re" '$2 ~ re { print $1; exit }')
        [ -n "$found" ]; }
    poll find_request || fail "no drive request like $re: $(requests_after_mark | cut -f2- | tail -n 5)"
    REQ_MARK=$found
}
