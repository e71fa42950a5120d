#!/usr/bin/env bash
# A WAV target that fails: a full device (/dev/full), and a pipe whose
# reader quits in the middle.  Each gives one line naming the target and
# the reason; the player neither dies (no SIGPIPE) nor runs through the
# disc, the window answers, and Quit ends it normally.  Into a pipe the
# header is written once, at the start of the stream.
source "$(dirname "$0")/lib.sh"

MKIMAGE=${MURBEL_TOOLS:-$(dirname "$MURBEL")/tools}/mkimage
[ -x "$MKIMAGE" ] || fail "no $MKIMAGE (build the tools)"
"$MKIMAGE" noise "$SCRATCH/image" disc -seed 3 4 4 >/dev/null || fail "mkimage could not write the disc"
DEVICE=$SCRATCH/image/disc.cue
start_x

run_fault()
{
    local target=$1 says=$2
    : >"$ERR"
    trace_mark
    start_player -audioDevice "wav:$target"
    expect_trace "cdrom_get_curtrack: no status"
    click playButton
    expect_trace "cdrom_play: starting track 1"
    told() { grep -q -F "audio device \"$target\": $says" "$ERR"; }
    poll told || fail "$target: no line telling \"$says\": $(cat "$ERR")"
    barrier
    player_running || fail "$target: the player died"
    ! trace_after_mark | grep -q 'cdrom_atend' || fail "$target: the player ran on: $(trace_after_mark)"
    [ "$(grep -c . "$ERR")" -eq 1 ] || fail "$target: not one line: $(cat "$ERR")"
    note "$(cat "$ERR")"
    click quitButton
    wait_player_exit
    [ "$PLAYER_STATUS" -eq 0 ] || fail "$target: quit gave status $PLAYER_STATUS"
}

run_fault /dev/full "No space left on device"

mkfifo "$SCRATCH/pipe"
# Half a second of sound (the header and 88200 bytes), then the reader goes.
head -c 88244 <"$SCRATCH/pipe" >"$SCRATCH/piped" &
reader=$!
run_fault "$SCRATCH/pipe" "Broken pipe"
wait "$reader"
[ "$(head -c 4 "$SCRATCH/piped")" = RIFF ] || fail "the stream does not begin with a header"
[ "$(grep -c RIFF "$SCRATCH/piped")" -le 1 ] || fail "the header is written into the stream again"
exit 0
