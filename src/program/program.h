// Program mode: the user's own play order and the program window.
#pragma once

#include <X11/Intrinsic.h>

#include <cstdint>

struct selection {
    uint8_t track;
    Widget toggle;
    selection *next;
    selection *prev;
};

// The program window's widgets.
extern Widget programForm;
extern Widget programDisplayForm;
extern Widget program_anchor;
extern Widget select_buttons[11];  // "1".."9", "+10", the tens display
extern Widget tens_display;

// The program list.
void program_add_track(uint8_t track);
void program_delete_selection(selection *s);
void program_clear();
uint8_t program_first_track();
uint8_t program_next_track();
uint8_t program_prev_track();
uint8_t program_peek_next();
uint8_t program_peek_prev();
int program_time_remaining();

// The program window and its commands.
void program_form_create(Widget parent);
void cb_cdrom_program(Widget w, XtPointer client_data, XtPointer call_data);
void program_start();
void program_cancel();
void cb_program_cancel(Widget w, XtPointer client_data, XtPointer call_data);
void cb_program_selection(Widget w, XtPointer client_data, XtPointer call_data);
void cb_program_number(Widget w, XtPointer client_data, XtPointer call_data);
void cb_program_plus10(Widget w, XtPointer client_data, XtPointer call_data);
void program_tens_add(int n);
void cb_program_tens(Widget w, XtPointer client_data, XtPointer call_data);
void cb_program_all(Widget w, XtPointer client_data, XtPointer call_data);
void cb_program_clear(Widget w, XtPointer client_data, XtPointer call_data);
