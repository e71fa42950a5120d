// MPRIS 2 on the session bus: desktop sound menus, media-key daemons and
// playerctl see and steer the player through the same routines as the
// buttons.
#pragma once

// Connects to the session bus and takes the player's name; without a
// session bus the player goes on as before (a line in the debug trace).
void mpris_start();
// Leaves the bus: the name is released and queued messages are sent.
void mpris_stop();

// The well-known name taken, or null when not on the bus (yet).
const char *mpris_bus_name();

// Handles whatever the bus has sent; the descriptor's input callback does
// this inside the event loop.
void mpris_dispatch();

// Compares the properties with those last announced and signals what
// changed.
void mpris_check_changes();
