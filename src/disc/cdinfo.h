// The per-disc information file: a title and a program, named after a
// number computed from the disc's track lengths.
#pragma once

#include <X11/Intrinsic.h>

#include <cstdint>

uint32_t disc_id();
void cdinfo_read();
void cb_save_program(Widget w, XtPointer client_data, XtPointer call_data);
