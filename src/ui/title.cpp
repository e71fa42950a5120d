// The disc title: shown on the title bar, edited in a pop-up dialog.  The
// new title reaches the disc's information file only when the program is
// saved.
#include "ui/ui.h"

#include <X11/StringDefs.h>
#include <X11/Xaw/AsciiText.h>
#include <X11/Xaw/Dialog.h>

#include <string>

#include "disc/cdrom.h"
#include "names/names.h"

static void set_dialog_value(const char *text)
{
    Arg arg;
    XtSetArg(arg, XtNvalue, text);
    XtSetValues(titleDialog, &arg, 1);
}

// The stored title, or the disc's names when the information file gave
// none; the title itself is left as it is, so a save stores what it did.
static void set_bar_label()
{
    std::string text = names_title_text();
    Arg arg;
    XtSetArg(arg, XtNlabel, text.c_str());
    XtSetValues(titleBar, &arg, 1);
}

// New names leave a draft in the dialog alone.
void title_bar_refresh()
{
    if (titleBar)
        set_bar_label();
}

void title_display_update()
{
    window_title_update();
    // The first drive opening at start-up comes before the window exists.
    if (!titleBar)
        return;
    // A null value would make the dialog drop its text field.
    set_dialog_value(title ? title->c_str() : "");
    set_bar_label();
}

static bool has_visible_text(const std::string &s)
{
    return s.find_first_not_of(" \t\n\v\f\r") != std::string::npos;
}

void cb_title_bar(Widget, XtPointer, XtPointer)
{
    set_dialog_value(title && has_visible_text(*title) ? title->c_str() : "");

    Position x = 0, y = 0;
    XtTranslateCoords(titleBar, 14, 14, &x, &y);
    Arg args[2];
    XtSetArg(args[0], XtNx, x);
    XtSetArg(args[1], XtNy, y);
    XtSetValues(titleShell, args, 2);

    if (Widget field = XtNameToWidget(titleDialog, "value")) {
        Dimension width = 0;
        XtSetArg(args[0], XtNwidth, &width);
        XtGetValues(titleBar, args, 1);
        XtSetArg(args[0], XtNwidth, width);
        XtSetValues(field, args, 1);
        // Typing should extend the title, not land in front of it.
        XawTextSetInsertionPoint(field, XawTextSourceScan(XawTextGetSource(field), 0,
                                                          XawstAll, XawsdRight, 1, True));
    }
    XtPopup(titleShell, XtGrabNone);
}

static void accept_title(Widget dialog)
{
    // Without a text field (the dialog was never opened nor filled) there is
    // nothing typed to accept, and the Dialog would read a missing widget.
    if (XtNameToWidget(dialog, "value")) {
        const char *text = XawDialogGetValueString(dialog);
        title = std::string(text ? text : "");
        set_bar_label();
        window_title_update();
    }
    XtPopdown(titleShell);
}

void cb_title_done(Widget, XtPointer client_data, XtPointer)
{
    accept_title(static_cast<Widget>(client_data));
}

void title_done_action(Widget, XEvent *, String *, Cardinal *)
{
    accept_title(titleDialog);
}
