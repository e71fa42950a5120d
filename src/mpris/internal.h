// Shared by the bus connection and the interfaces; not part of the
// layer's contract.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>

extern sd_bus *mpris_bus;

constexpr const char *MPRIS_PATH = "/org/mpris/MediaPlayer2";
constexpr const char *MPRIS_ROOT = "org.mpris.MediaPlayer2";
constexpr const char *MPRIS_PLAYER = "org.mpris.MediaPlayer2.Player";

// Registers the two interfaces on the object path.
int mpris_add_interfaces(sd_bus *bus);

// What the desktop is told, read from the player's state.
std::string mpris_playback_status();
std::string mpris_loop_status();
bool mpris_shuffle();
double mpris_volume();
bool mpris_disc_present();
bool mpris_can_go_next();
bool mpris_can_seek();
int64_t mpris_position_us();
// "/org/murbel/disc/D/track/N" (D counts the discs brought in, so that a
// new disc's tracks are new to the desktop), or MPRIS's no-track path.
std::string mpris_trackid();
// Everything of Metadata in one comparable text.
std::string mpris_metadata_key();

// Seeked, with the position now; the jump is not signalled again.
void mpris_seeked();

// Whether S is well-formed UTF-8, and text of any source made into it.
bool mpris_valid_utf8(const std::string &s);
std::string mpris_utf8(const std::string &text);
