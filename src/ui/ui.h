// Main window and displays: the widget tree, images, the scanning
// indicator, the track and time displays, the volume and the title.
#pragma once

#include <X11/Intrinsic.h>

// Widgets other parts refer to; null until built ("timerButton" stays null
// when displayTimer is False).
extern Widget trackButton, timerButton, volumeScrollbar;
extern Widget titleBar, titleShell, titleDialog;
extern Widget playButton, pauseButton, stopButton, prevButton, nextButton;
extern Widget ejectButton, quitButton, cycleButton, shuffleButton;
extern Widget rewButton, ffButton, pgmButton;
extern Widget ledsLabel;
extern Pixmap led_frames[8];
extern Pixmap led_off_frame;

// Widget tree and indicator.
void logo_form_create(Widget parent);
void leds_create(Widget parent);
void leds_animate(int direction);
void leds_off();
void buttons_form_create(Widget parent);
void set_button_state(Widget button, Boolean on);
Boolean get_button_state(Widget button);

// Track and time displays.
void track_display_update();
void timer_display_update();
void cb_track_button(Widget w, XtPointer client_data, XtPointer call_data);
void cb_timer_button(Widget w, XtPointer client_data, XtPointer call_data);

// Volume.
void volume_init();
void cb_volume_jump(Widget w, XtPointer client_data, XtPointer call_data);
void cb_volume_scroll(Widget w, XtPointer client_data, XtPointer call_data);
// The volume keys: a sixteenth of the bar up (DIRECTION > 0) or down.
void volume_step(int direction);
// The thumb moved to TOP (0..1) as a drag moves it.
void volume_move_thumb(float top);

// Title bar and dialog, and the window's title and icon name.
void title_display_update();
void window_title_update();
void title_bar_refresh();
void cb_title_bar(Widget w, XtPointer client_data, XtPointer call_data);
void cb_title_done(Widget w, XtPointer client_data, XtPointer call_data);
void title_done_action(Widget w, XEvent *event, String *params, Cardinal *num_params);
// Closes the dialog leaving the title as it was (the window manager's close).
void title_cancel();

// Takes part in the window manager's close on a realized SHELL: the main
// window quits as the quit button does, the title dialog is cancelled.
void wm_protocols_set(Widget shell);

// The keyboard: the actions the resource file binds to keys on FORM, and
// where typed keys go (TARGET, or FORM again when null).
void keys_create(Widget form);
void keys_focus(Widget target);
// Presses a button of the window as a click does: its look and callbacks.
void press_button(Widget w, XEvent *event);
