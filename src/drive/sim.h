// The simulated drive: a model of a CD-ROM drive with its own audio output,
// described by a disc file ("sim:FILE").  Used by the demo, the tests and
// anyone without a drive.  These controls are for tests.
#pragma once

#include <cstdint>

#include "drive/drive.h"

extern const drive_ops sim_drive_ops;

// Replace the drive's real-time clock by one the caller advances.
void sim_use_manual_clock(bool manual);
// Advance the manual clock (simulated real time; the disc's speed applies).
void sim_advance_ms(int64_t ms);

// Make a request fail with the given errno (0 lifts the refusal).  Request
// names as in disc files: toc-header toc-entry subchannel play pause resume
// stop allow eject volume.  Returns false for an unknown name.
bool sim_refuse(const char *request, int err);
void sim_refuse_clear();

// Make the sub-channel answer with this audio status and track, whatever
// the drive is doing; a negative status lifts the override.
void sim_force_position(int audio_status, int track);

// Forget every simulated drive (tray, play state, refusals, clock).
void sim_reset_all();

// Last volume the drive was given, for tests; -1 before any.
int sim_last_volume_left();
int sim_last_volume_right();
