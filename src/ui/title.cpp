// The disc title: shown on the title bar, edited in a pop-up dialog.  The
// new title reaches the disc's information file only when the program is
// saved.  The window's title and icon name show it too, with the names.
#include "ui/ui.h"

#include <X11/Shell.h>
#include <X11/StringDefs.h>
#include <X11/Xatom.h>
#include <X11/Xaw/AsciiText.h>
#include <X11/Xaw/Dialog.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <string>

#include "app/app.h"
#include "disc/cdrom.h"
#include "names/names.h"
#include "ui/show_names.h"

static void set_dialog_value(const char *text)
{
    Arg arg;
    XtSetArg(arg, XtNvalue, text);
    XtSetValues(titleDialog, &arg, 1);
}

// The stored title, or the disc's names when the information file gave
// none; the title itself is left as it is, so a save stores what it did.
// The bar takes the width its title needs, and at least the width of the
// viewport's clip, so that a click anywhere on the title area opens the
// dialog; a longer title scrolls.
static void set_bar_label()
{
    std::string text = names_title_text();
    XtVaSetValues(titleBar, XtNlabel, text.c_str(), nullptr);
    XtWidgetGeometry preferred{};
    XtQueryGeometry(titleBar, nullptr, &preferred);
    Dimension clip_width = 0, border = 0;
    XtVaGetValues(XtParent(XtParent(titleBar)), XtNwidth, &clip_width, nullptr);
    XtVaGetValues(titleBar, XtNborderWidth, &border, nullptr);
    Dimension width = preferred.width;
    if (clip_width > width + 2 * border)
        width = static_cast<Dimension>(clip_width - 2 * border);
    XtVaSetValues(titleBar, XtNwidth, width, nullptr);
}

// New names leave a draft in the dialog alone.
void title_bar_refresh()
{
    if (titleBar)
        set_bar_label();
}

static void set_net_wm_name(const char *property, const std::string &utf8)
{
    Display *dpy = XtDisplay(top_shell);
    Atom name = XInternAtom(dpy, property, False);
    Atom type = XInternAtom(dpy, "UTF8_STRING", False);
    XChangeProperty(dpy, XtWindow(top_shell), name, type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(utf8.data()),
                    static_cast<int>(utf8.size()));
}

void window_title_update()
{
    if (!top_shell)
        return;
    static std::string shown;
    static bool shown_realized = false;
    std::string utf8 = window_title_text();
    bool realized = XtIsRealized(top_shell);
    if (utf8 == shown && realized == shown_realized)
        return;
    shown = utf8;
    shown_realized = realized;
    // WM_NAME as Latin-1 for every window manager, _NET_WM_NAME as UTF-8
    // for those that read it.
    std::string latin1 = text_to_latin1(utf8);
    XtVaSetValues(top_shell, XtNtitle, latin1.c_str(), XtNiconName, latin1.c_str(),
                  XtNtitleEncoding, XA_STRING, XtNiconNameEncoding, XA_STRING, nullptr);
    if (realized) {
        set_net_wm_name("_NET_WM_NAME", utf8);
        set_net_wm_name("_NET_WM_ICON_NAME", utf8);
    }
}

void show_names(bool bar)
{
    if (bar)
        title_bar_refresh();
    window_title_update();
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

// The dialog opens with its text selected, as dialogs do: the first key
// that types (or deletes) replaces the whole text, while a click or a key
// that moves the cursor keeps it for editing.
static bool fresh_text;

static void first_key(Widget w, XtPointer, XEvent *event, Boolean *)
{
    if (!fresh_text)
        return;
    if (event->type == ButtonPress) {
        fresh_text = false;
        return;
    }
    if (event->type != KeyPress)
        return;
    char buf[8];
    KeySym sym = NoSymbol;
    int n = XLookupString(&event->xkey, buf, sizeof buf, &sym, nullptr);
    if (sym == XK_Return || sym == XK_KP_Enter || IsModifierKey(sym))
        return;  // accepts the text as it is, or is only a modifier
    fresh_text = false;
    bool types = n > 0 && static_cast<unsigned char>(buf[0]) >= ' ' && buf[0] != 0x7f;
    if (types || sym == XK_BackSpace || sym == XK_Delete)
        XtVaSetValues(w, XtNstring, "", nullptr);
}

static void take_part_in_close()
{
    static bool done;
    if (!done && XtIsRealized(titleShell)) {
        wm_protocols_set(titleShell);
        done = true;
    }
}

// Where the dialog fits: the point 14, 14 of the bar where the whole
// dialog stays on the screen, else as near to it as the screen allows.
static void place_dialog(Widget field)
{
    Position x = 0, y = 0;
    XtTranslateCoords(titleBar, 14, 14, &x, &y);

    Dimension width = 0;
    XtVaGetValues(titleBar, XtNwidth, &width, nullptr);
    XtVaSetValues(field, XtNwidth, width, nullptr);
    XtRealizeWidget(titleShell);  // its size is known once it is realized
    take_part_in_close();

    Screen *screen = XtScreen(titleShell);
    Dimension w = 0, h = 0, border = 0;
    XtVaGetValues(titleShell, XtNwidth, &w, XtNheight, &h, XtNborderWidth, &border, nullptr);
    int outer_w = w + 2 * border, outer_h = h + 2 * border;
    // A title longer than the screen is wide: the field gives up the
    // difference and scrolls instead.
    if (outer_w > WidthOfScreen(screen) && width > outer_w - WidthOfScreen(screen)) {
        width = static_cast<Dimension>(width - (outer_w - WidthOfScreen(screen)));
        XtVaSetValues(field, XtNwidth, width, nullptr);
        XtVaGetValues(titleShell, XtNwidth, &w, nullptr);
        outer_w = w + 2 * border;
    }
    int max_x = WidthOfScreen(screen) - outer_w, max_y = HeightOfScreen(screen) - outer_h;
    x = static_cast<Position>(x > max_x ? max_x : x);
    y = static_cast<Position>(y > max_y ? max_y : y);
    x = static_cast<Position>(x < 0 ? 0 : x);
    y = static_cast<Position>(y < 0 ? 0 : y);
    XtVaSetValues(titleShell, XtNx, x, XtNy, y, nullptr);
}

void cb_title_bar(Widget, XtPointer, XtPointer)
{
    set_dialog_value(title && has_visible_text(*title) ? title->c_str() : "");

    Widget field = XtNameToWidget(titleDialog, "value");
    if (!field) {
        Position x = 0, y = 0;
        XtTranslateCoords(titleBar, 14, 14, &x, &y);
        XtVaSetValues(titleShell, XtNx, x, XtNy, y, nullptr);
        XtPopup(titleShell, XtGrabNone);
        take_part_in_close();
        return;
    }
    place_dialog(field);
    XawTextPosition end = XawTextSourceScan(XawTextGetSource(field), 0, XawstAll, XawsdRight, 1,
                                            True);
    XawTextSetInsertionPoint(field, end);
    XawTextSetSelection(field, 0, end);
    static Widget watched;
    if (watched != field) {
        XtInsertEventHandler(field, KeyPressMask | ButtonPressMask, False, first_key, nullptr,
                             XtListHead);
        watched = field;
    }
    fresh_text = true;
    XtPopup(titleShell, XtGrabNone);
    keys_focus(field);
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
    fresh_text = false;
    XtPopdown(titleShell);
    keys_focus(nullptr);
}

void title_cancel()
{
    fresh_text = false;
    XtPopdown(titleShell);
    keys_focus(nullptr);
}

void cb_title_done(Widget, XtPointer client_data, XtPointer)
{
    accept_title(static_cast<Widget>(client_data));
}

void title_done_action(Widget, XEvent *, String *, Cardinal *)
{
    accept_title(titleDialog);
}
