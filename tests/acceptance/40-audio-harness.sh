#!/usr/bin/env bash
# The ears themselves, with aplay in the player's place: a stretch of a
# noise disc written to ALSA's default device is heard bit for bit, at
# the right place of the disc, once; two stretches played one after the
# other are heard as two; sound that is not on the disc is heard as
# unmatched.  The disc's one-BINARY and per-track WAVE layouts hold the
# same audio, gaps included.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/audio.sh"

command -v aplay >/dev/null || fail "aplay is missing (alsa-utils)"
make_image wave -layout wave 2 1.5/pregap:1 2/index0:0.5 1
make_image bin 2 1.5/pregap:1 2/index0:0.5 1
cmp -s "$SCRATCH/image/bin.pcm" "$SCRATCH/image/wave.pcm" || fail "the two layouts differ"
# The per-track files, gaps made up where the sheet says PREGAP, are the
# BINARY file; the BINARY file with the gap of track 2 is the disc.
pregap=$((75 * 2352))
{ cat "$SCRATCH"/image/wave-01.wav | tail -c +45; head -c $pregap /dev/zero
  for t in 02 03 04; do tail -c +45 "$SCRATCH/image/wave-$t.wav"; done; } >"$SCRATCH/joined"
{ head -c $((150 * 2352)) "$IMAGE.bin"; head -c $pregap /dev/zero
  tail -c +$((150 * 2352 + 1)) "$IMAGE.bin"; } | cmp -s - "$SCRATCH/joined" ||
    fail "the WAVE files are not the BINARY file"
cmp -s "$IMAGE.pcm" "$SCRATCH/joined" || fail "the disc is not its files"
[ "$(track_start 3)" = 00:07:01+000 ] && [ "$(track_start 4)" = 00:09:01+000 ] &&
    [ "$(leadout)" = 00:10:01+000 ] || fail "unexpected table of contents: $(cat "$IMAGE.toc")"

start_pulse
start_capture

# Sectors 100 to 400 of the disc: 00:03:25 to 00:07:25, across the silent gap.
sectors() { dd if="$IMAGE.pcm" bs=2352 skip="$1" count="$2" status=none; }
sectors 100 300 | aplay -q -t raw -f cd || fail "aplay failed"
expect_heard "00:03:25+000 00:07:25+000"

heard_mark
sectors 500 75 | aplay -q -t raw -f cd
sectors 10 20 | aplay -q -t raw -f cd
expect_heard "00:08:50+000 00:09:50+000" "00:02:10+000 00:02:30+000"

heard_mark
head -c 17640 /dev/urandom | aplay -q -t raw -f cd
expect_heard "unmatched 4410"
[ "$(addr_plus 00:59:74+100 2)" = 01:01:74+100 ] || fail "address arithmetic"
exit 0
