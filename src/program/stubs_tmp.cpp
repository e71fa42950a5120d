// TEMPORARY: placeholders until the real code lands; this file is deleted then.
#include <cstdlib>
#include "program/program.h"
void program_add_track(uint8_t track) { abort(); }
void program_delete_selection(selection *s) { abort(); }
void program_clear() { abort(); }
uint8_t program_first_track() { abort(); }
uint8_t program_next_track() { abort(); }
uint8_t program_prev_track() { abort(); }
uint8_t program_peek_next() { abort(); }
uint8_t program_peek_prev() { abort(); }
int program_time_remaining() { abort(); }
void program_form_create(Widget parent) { abort(); }
void cb_cdrom_program(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void program_start() { abort(); }
void program_cancel() { abort(); }
void cb_program_cancel(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_program_selection(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_program_number(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_program_plus10(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void program_tens_add(int n) { abort(); }
void cb_program_tens(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_program_all(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_program_clear(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
