// Drives that play through the sound card (src/drive/digital.cpp).
#pragma once

#include <string>

#include "drive/drive.h"

// A disc image: a path ending in ".cue".
extern const drive_ops image_drive_ops;
// A real drive read digitally: "cdda:PATH", or any drive path when the
// settings say digital.
extern const drive_ops cdda_drive_ops;

bool drive_digital_default();

// The name of a track of the disc now in (UTF-8; "" forgets it), shown by
// desktop mixers for the sound server's stream while the track plays.
// For the names layer, on the player's thread (the names are kept
// unlocked); a new disc forgets the names of the last.
void digital_set_track_name(int track, const std::string &name);

// Tests: forget every image's tray.
void digital_reset_trays();
// Tests: wait until every open drive's engine has nothing to do until its
// clock moves or a request comes; false after ms without that.
bool digital_settle(int ms);
// Tests: whether an open drive holds its sound device now.
bool digital_device_open();
// Tests: underruns of the open drives' sound devices so far.
long digital_underruns();
