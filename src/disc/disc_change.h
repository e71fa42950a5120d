// How the layers around the player hear that a disc came or went: they
// subscribe once at start-up, and the disc layer tells them in that order.
#pragma once

enum class disc_event { came, went };

using disc_observer = void (*)(disc_event);

// A second subscription of the same observer is ignored.
void disc_subscribe(disc_observer observer);
// Called by the disc layer only: counts the change, then tells everyone.
void disc_changed(disc_event event);

// The changes so far: a number that differs for each disc brought in, so
// that what was fetched or handed out for an earlier one can be told apart.
extern unsigned disc_changes;
