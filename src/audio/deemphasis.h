// De-emphasis for tracks recorded with pre-emphasis: the 50/15 us treble
// cut a drive's analog output applies when a track's table-of-contents
// entry carries the pre-emphasis bit.  Tracks without it stay bit-exact.
#pragma once

#include <cstdint>

struct deemphasis {
    double x1[2], x2[2], y1[2], y2[2];  // per channel: the last two inputs and outputs
};

// Forgets the history, as at the start of a play elsewhere on the disc.
void deemphasis_reset(deemphasis *d);
// Filters count stereo frames (44.1 kHz, interleaved) in place.  The
// history carries over, so a stream filtered in pieces comes out as it
// would in one.
void deemphasis_run(deemphasis *d, int16_t *frames, long count);

struct audio_source;

// Wraps a source so that the sectors of tracks flagged with pre-emphasis
// come out de-emphasised; a source with no such track is returned as it
// is.  The wrapper's read runs in the reader thread, as the source's does.
audio_source deemphasis_wrap(audio_source src);
