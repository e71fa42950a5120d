// TEMPORARY: placeholders until the real code lands; this file is deleted then.
#include <cstdlib>
#include "ui/ui.h"
void logo_form_create(Widget parent) { abort(); }
void leds_create(Widget parent) { abort(); }
void leds_animate(int direction) { abort(); }
void leds_off() { abort(); }
void buttons_form_create(Widget parent) { abort(); }
void set_button_state(Widget button, Boolean on) { abort(); }
Boolean get_button_state(Widget button) { abort(); }
void track_display_update() { abort(); }
void timer_display_update() { abort(); }
void cb_track_button(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_timer_button(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void volume_init() { abort(); }
void cb_volume_jump(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_volume_scroll(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void title_display_update() { abort(); }
void cb_title_bar(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_title_done(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void title_done_action(Widget w, XEvent *event, String *params, Cardinal *num_params) { abort(); }
