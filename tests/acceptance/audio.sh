# Ears for the acceptance scenarios: a private PulseAudio daemon with one
# null sink that ALSA's "default" reaches, a recording of that sink's
# monitor, and the comparison of the recording with the disc image that
# was played (tools/audiocmp), sample for sample.
#
# A scenario sources lib.sh, then this file; makes its disc with
# make_image, calls start_pulse and start_capture before the player, then
# clicks and listens.  Addresses are MM:SS:FF+SSS (SSS the stereo frame
# within the 1/75 s sector); track_start and leadout give the disc's own.
#
# When the daemon cannot run at all the scenario is skipped (exit 77);
# every later failure fails it.
#
# MURBEL_SOUND_SERVER=pipewire runs PipeWire instead (pipewire,
# wireplumber and pipewire-pulse, on a session bus of their own), with the
# same null sink; the scenarios are registered once for each server.

TOOLS=${MURBEL_TOOLS:-$(dirname "$MURBEL")/tools}
MKIMAGE=$TOOLS/mkimage
AUDIOCMP=$TOOLS/audiocmp
[ -x "$MKIMAGE" ] && [ -x "$AUDIOCMP" ] || fail "no $MKIMAGE or $AUDIOCMP (build the tools)"

RATE=44100
FRAME_BYTES=4
SECTOR_FRAMES=588
IMAGE=""        # the disc image's base path (IMAGE.cue, IMAGE.pcm, IMAGE.toc)
CAPTURE=$SCRATCH/capture.raw
HEARD_MARK=0    # frames of the recording already accounted for
PULSE_PID=""
PAREC_PID=""
PW_PIDS=""
BUS_PID=""
SERVER=${MURBEL_SOUND_SERVER:-pulseaudio}

skip() { echo "SKIP ($SCENARIO): $*"; exit 77; }

extra_cleanup()
{
    local p
    for p in $PAREC_PID $PULSE_PID $PW_PIDS; do
        kill -CONT "$p" 2>/dev/null
        kill "$p" 2>/dev/null && wait "$p" 2>/dev/null
    done
    [ -n "$BUS_PID" ] && kill "$BUS_PID" 2>/dev/null
    PAREC_PID=""
    PULSE_PID=""
    PW_PIDS=""
    BUS_PID=""
}

# ---- the disc --------------------------------------------------------------

# Writes a noise disc NAME into the scratch directory (mkimage noise's
# options and tracks follow) and makes it the one played: DEVICE names its
# cue sheet for start_player.
make_image()
{
    local name=$1
    shift
    "$MKIMAGE" noise "$SCRATCH/image" "$name" "$@" >/dev/null || fail "mkimage could not write $name"
    IMAGE=$SCRATCH/image/$name
    DEVICE=$IMAGE.cue
}

track_start() { awk -v t="$1" '$1 == "track" && $2 == t { print $3 "+000" }' "$IMAGE.toc"; }
leadout() { awk '$1 == "leadout" { print $2 "+000" }' "$IMAGE.toc"; }

# Address arithmetic, in stereo frames from 00:00:00+000.
addr_frames()
{
    local a=$1
    echo $(((10#${a:0:2} * 4500 + 10#${a:3:2} * 75 + 10#${a:6:2}) * SECTOR_FRAMES + 10#${a:9:3}))
}
frames_addr()
{
    local f=$1 s=$(($1 / SECTOR_FRAMES))
    printf '%02d:%02d:%02d+%03d\n' $((s / 4500)) $((s / 75 % 60)) $((s % 75)) $((f % SECTOR_FRAMES))
}
# Where a play request that ends at ADDR stops being heard: drives play up
# to the end address, not including it (a range from an address to itself
# is empty), so a track's range (its start up to one frame before the next
# track) leaves out that one frame.
range_end() { frames_addr $(($(addr_frames "$1") - SECTOR_FRAMES)); }
# ADDR plus SECONDS (a whole number, may be negative).
addr_plus() { frames_addr $(($(addr_frames "$1") + $2 * 75 * SECTOR_FRAMES)); }

# ---- the sound server -------------------------------------------------------

pulse_ready() { pactl info >/dev/null 2>&1; }

# The server's process that answers the clients (for scenarios that kill,
# stop or restart it).
server_pid() { if [ "$SERVER" = pipewire ]; then echo "${PW_PIDS##* }"; else echo "$PULSE_PID"; fi; }

start_pulse()
{
    if [ "$SERVER" = pipewire ]; then
        start_pipewire
        return
    fi
    command -v pulseaudio >/dev/null || skip "pulseaudio is not installed"
    command -v parec >/dev/null && command -v pactl >/dev/null || fail "pulseaudio-utils is missing"
    # A daemon of its own: its own runtime directory and home (run as root
    # it needs both), no configuration read, no exit when idle.
    export XDG_RUNTIME_DIR=$SCRATCH/run
    export HOME=$SCRATCH
    export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/native
    unset PULSE_SINK PULSE_SOURCE PULSE_COOKIE
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    # ALSA's default device reaches the daemon (libasound2-plugins).
    printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' >"$HOME/.asoundrc"
    # The null sink plays at the disc's own format, so nothing is converted,
    # and without rewinds, so the monitor hears the start of every stream.
    pulseaudio -n --daemonize=no --system=no --exit-idle-time=-1 --use-pid-file=no \
        --realtime=no --high-priority=no --disable-shm=yes \
        -L "module-null-sink sink_name=capture rate=$RATE format=s16le channels=2 norewinds=1" \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/native" \
        >"$SCRATCH/pulse.log" 2>&1 &
    PULSE_PID=$!
    pulse_up() { pulse_ready || ! kill -0 "$PULSE_PID" 2>/dev/null; }
    poll pulse_up
    if ! pulse_ready; then
        kill -0 "$PULSE_PID" 2>/dev/null && fail "pulseaudio runs but does not answer: $(tail -n 5 "$SCRATCH/pulse.log")"
        wait "$PULSE_PID" 2>/dev/null
        PULSE_PID=""
        skip "pulseaudio cannot start here: $(grep -v '^W:' "$SCRATCH/pulse.log" | tail -n 3 | tr '\n' ' ')"
    fi
}

# PipeWire headless: a private runtime directory and session bus
# (wireplumber ends without one), the graph held at the disc's rate (else
# it runs at 48 kHz and resamples), and the same null sink, made the
# default.  ALSA's "default" still reaches it through the pulse plugin.
start_pipewire()
{
    local p
    for p in pipewire wireplumber pipewire-pulse pw-metadata dbus-daemon; do
        command -v $p >/dev/null || skip "$p is not installed"
    done
    command -v parec >/dev/null && command -v pactl >/dev/null || fail "pulseaudio-utils is missing"
    export XDG_RUNTIME_DIR=$SCRATCH/run
    export HOME=$SCRATCH
    export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
    unset PULSE_SINK PULSE_SOURCE PULSE_COOKIE PIPEWIRE_REMOTE
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' >"$HOME/.asoundrc"
    dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$SCRATCH/bus.addr" 4>"$SCRATCH/bus.pid" ||
        skip "no session bus can start here"
    BUS_PID=$(cat "$SCRATCH/bus.pid")
    DBUS_SESSION_BUS_ADDRESS=$(cat "$SCRATCH/bus.addr")
    export DBUS_SESSION_BUS_ADDRESS
    pipewire >"$SCRATCH/pipewire.log" 2>&1 &
    PW_PIDS=$!
    pw_up() { [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] || ! kill -0 "$PW_PIDS" 2>/dev/null; }
    poll pw_up
    [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] || skip "pipewire cannot start here: $(tail -n 3 "$SCRATCH/pipewire.log" | tr '\n' ' ')"
    wireplumber >"$SCRATCH/wireplumber.log" 2>&1 &
    PW_PIDS="$PW_PIDS $!"
    start_pipewire_pulse
    pactl load-module module-null-sink sink_name=capture rate=$RATE format=s16le channels=2 >/dev/null ||
        fail "no null sink on pipewire-pulse"
    pw-metadata -n settings 0 clock.force-rate $RATE >/dev/null || fail "the graph's rate cannot be set"
    sink_there() { pactl list short sinks | grep -q '	capture	'; }
    poll sink_there || fail "the null sink did not come"
    pactl set-default-sink capture || fail "the null sink cannot be the default"
}

# pipewire-pulse alone, started again after a scenario killed it.
start_pipewire_pulse()
{
    pipewire-pulse >>"$SCRATCH/pipewire-pulse.log" 2>&1 &
    PW_PIDS="$PW_PIDS $!"
    poll pulse_ready || fail "pipewire-pulse does not answer: $(tail -n 3 "$SCRATCH/pipewire-pulse.log")"
}

# The server started again after a scenario killed it, with its null sink
# (a new recording follows: start_capture).
restart_server()
{
    if [ "$SERVER" = pipewire ]; then
        start_pipewire_pulse
        pactl load-module module-null-sink sink_name=capture rate=$RATE format=s16le channels=2 >/dev/null ||
            fail "no null sink on pipewire-pulse"
        sink_there() { pactl list short sinks | grep -q '	capture	'; }
        poll sink_there || fail "the null sink did not come back"
        pactl set-default-sink capture || fail "the null sink cannot be the default"
    else
        start_pulse
    fi
    HEARD_MARK=0
}

# Murbel's streams on the server now.
streams() { pactl list short sink-inputs 2>/dev/null | grep -c . || true; }

# Processor time the player has used, in clock ticks.
player_ticks() { awk '{ print $14 + $15 }' "/proc/$PLAYER_PID/stat"; }

capture_frames() { echo $(($(stat -c %s "$CAPTURE" 2>/dev/null || echo 0) / FRAME_BYTES)); }

# Records the null sink from now on.  A fresh daemon's monitor takes a
# few seconds to flow: this returns once a second of silence has come.
start_capture()
{
    parec -d capture.monitor --raw --format=s16le --rate=$RATE --channels=2 --latency-msec=20 \
        >"$CAPTURE" 2>"$SCRATCH/parec.log" &
    PAREC_PID=$!
    a_second() { [ "$(capture_frames)" -ge $RATE ] || ! kill -0 "$PAREC_PID" 2>/dev/null; }
    poll a_second
    kill -0 "$PAREC_PID" 2>/dev/null || fail "parec ended: $(cat "$SCRATCH/parec.log")"
    [ "$(capture_frames)" -ge $RATE ] || fail "the sink's monitor gave no second of sound"
    "$AUDIOCMP" /dev/null "$CAPTURE" | grep -q -v '^silence' &&
        fail "the sink was not silent before anything played"
    return 0
}

# Underruns may come on a loaded machine; what is heard shows whether one
# lost or repeated anything.  Scenarios note how many there were.  The
# names layer's lines are the names scenarios' concern.
TRACE_IGNORE='^(audio: underrun [0-9]+|names: .*)$'
note_underruns() { note "underruns traced: $(grep -c '^audio: underrun' "$OUT")"; }

# The player on the image, at full volume (volume 255 leaves the samples
# as they are on the disc).
start_listened_player() { start_player -volBase 255 "$@"; }

# ---- listening -------------------------------------------------------------
# Each look reads the whole recording: the waits look four times a second.

# Looks at the recording once: LISTENED holds audiocmp's answer.
LISTENED=""
listen() { LISTENED=$("$AUDIOCMP" "$IMAGE.pcm" "$CAPTURE"); }

# What was recorded since the mark, one stretch a line: "FROM TO" for a
# stretch of the disc (TO not included), "unmatched N" for N frames of
# sound that are not on the disc.  Silence is left out, and a stretch that
# goes on after silence exactly where the last one ended (a pause and its
# resume, an underrun) is one stretch: nothing lost or repeated.  With
# "-c", each line begins with the frame of the recording where the stretch
# begins.  Uses the last look (listen) when LISTENED_ONLY is set.
heard()
{
    [ -n "${LISTENED_ONLY:-}" ] || listen
    awk -v mark="$HEARD_MARK" -v at="${1:-}" '
        function put() { if (line != "") print line; line = "" }
        $2 + $3 <= mark { next }
        $1 == "audio" && line != "" && $4 == to { to = $5; line = head from " " to; next }
        $1 == "audio" { put(); head = at == "-c" ? $2 " " : ""; from = $4; to = $5; line = head from " " to }
        $1 == "unmatched" { put(); to = ""; print (at == "-c" ? $2 " " : "") "unmatched", $3 }
        END { put() }' <<<"$LISTENED"
}

# Frames of silence at the end of the recording.
trailing_silence()
{
    [ -n "${LISTENED_ONLY:-}" ] || listen
    tail -n 1 <<<"$LISTENED" | awk '$1 == "silence" { print $3; exit } { print 0 }'
}

# Forgets what was heard so far (call it while the sink is silent).
heard_mark() { HEARD_MARK=$(capture_frames); }

# Waits until the recording since the mark is exactly the given stretches
# ("FROM TO", each may hold shell patterns: "00:02:00+000 *") and the
# sound has stopped for half a second.
expect_heard()
{
    local expected got
    expected=$(printf '%s\n' "$@")
    heard_as_expected()
    {
        listen
        got=$(LISTENED_ONLY=1 heard)
        [ "$(wc -l <<<"$got")" -eq $# ] || return 1
        local i=0 line
        while IFS= read -r line; do
            i=$((i + 1))
            # shellcheck disable=SC2053
            [[ $line == ${!i} ]] || return 1
        done <<<"$got"
        [ "$(LISTENED_ONLY=1 trailing_silence)" -ge $((RATE / 2)) ]
    }
    POLL_SLEEP=0.25 poll heard_as_expected "$@" || fail "heard differs; expected:
$expected
heard:
$(heard)"
}

# Waits until SECONDS of silence end the recording.
expect_silence()
{
    silent_for() { [ "$(trailing_silence)" -ge $(($1 * RATE)) ]; }
    POLL_SLEEP=0.25 poll silent_for "$1" || fail "the sound did not stop; heard:
$(heard)"
}

# Waits until the sound has reached ADDR (the last stretch heard ends at
# or after it); the sound may go on.
wait_heard_until()
{
    reached() { [[ ! "$(heard | tail -n 1 | cut -d' ' -f2)" < "$1" ]]; }
    POLL_SLEEP=0.25 poll reached "$1" || fail "the sound never reached $1; heard:
$(heard)"
}

# The Nth stretch heard since the mark (FROM or TO with a second argument
# "from" or "to").
heard_stretch()
{
    local line
    line=$(heard | sed -n "$1p")
    case ${2:-} in
    from) echo "${line% *}" ;;
    to) echo "${line#* }" ;;
    *) echo "$line" ;;
    esac
}
