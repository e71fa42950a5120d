// The player steered from outside its window (the session bus): each
// command does what a click on its button does, so that the button's look,
// its callbacks and the trace are a click's.  Nothing here names a widget.
#pragma once

#include <string>

enum class command { play, pause, stop, previous, next, cycle, shuffle, quit };

void command_run(command c);
// The volume bar's thumb moved to PLACE (0..1), as a drag moves it.
void command_volume(float place);
// Another device: the disc in the drive goes as with an eject, without
// the drive's eject, and a play brings in the new one.
void command_open_device(const std::string &device);
// The main window raised, and the window manager asked for the focus.
void command_raise();
