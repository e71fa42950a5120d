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
// A drive's play that failed by itself (a sound device gone, FD readable)
// stops the player as Stop does: the window never says Playing with
// nothing heard, and the next Play tries again.
void command_watch_play_failures(int fd);
// The main window raised, and the window manager asked for the focus.
void command_raise();
