// The volume scrollbar.  The volume is never read back from the drive: the
// player keeps its own value and sends it whenever it changes.
//
// The bar's place is the one measure of the volume: a drag, a scroll
// click, the volume keys and the desktop (which reads the thumb) all move
// the place, in steps of the 0..255 scale, and the volume follows from it
// by one formula, so that the window and the bus never disagree.
#include "ui/ui.h"

#include <X11/StringDefs.h>
#include <X11/Xaw/Scrollbar.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "app/app.h"
#include "disc/cdrom.h"

static const int SCALE = 255;
static const int KEY_STEP = 16;  // a sixteenth of the scale

static int place;  // the thumb's place, 0..SCALE

static int clamp_volume(int v)
{
    if (v > 255)
        v = 255;
    if (v < 2)
        v = 1;
    return v;
}

// The volume at a place of the bar.
static int volume_at(int k)
{
    return clamp_volume(static_cast<int>(static_cast<float>(k) * app_resources.volPcent +
                                         app_resources.volBase));
}

// The place whose volume is V, else the nearest one: the bar can hold
// only what its formula reaches.
static int place_of(int v)
{
    int best = 0;
    for (int k = 0; k <= SCALE; k++) {
        if (volume_at(k) == v)
            return k;
        if (std::abs(volume_at(k) - v) <= std::abs(volume_at(best) - v))
            best = k;
    }
    return best;
}

static void send_volume()
{
    debug_log(1, "volume=%u\n", static_cast<unsigned>(volume));
    cdrom_volume(static_cast<uint8_t>(volume), static_cast<uint8_t>(volume));
}

static void move_to(int k)
{
    place = std::clamp(k, 0, SCALE);
    volume = volume_at(place);
    send_volume();
    volume_place = static_cast<float>(place) / SCALE;
    XawScrollbarSetThumb(volumeScrollbar, volume_place, -1.0f);
}

void volume_init()
{
    float a = 255.0f - app_resources.volBase;
    double b = a * 0.75;
    int c = static_cast<int>(b);
    volume = static_cast<int>(static_cast<float>(c) + app_resources.volBase);
    // The start-up value is not clamped, but the drive only takes 0..255: a
    // volBase outside the scale must not wrap around to a quiet setting.
    int sent = std::clamp(volume, 0, 255);
    cdrom_volume(static_cast<uint8_t>(sent), static_cast<uint8_t>(sent));
    // Near three quarters with the shipped resources; exactly where the
    // start-up volume lies, so that a step down and up comes back to it.
    place = place_of(volume);
    volume_place = static_cast<float>(place) / SCALE;
    XawScrollbarSetThumb(volumeScrollbar, volume_place, 1.0f);
}

void cb_volume_jump(Widget, XtPointer, XtPointer call_data)
{
    float fraction = *static_cast<float *>(call_data);
    volume_place = fraction;  // where the scrollbar put its thumb
    place = std::clamp(static_cast<int>(fraction * 255.0f), 0, SCALE);
    volume = volume_at(place);
    send_volume();
}

// As in any Athena scroll bar, the pointer's distance along the bar is how
// far the thumb moves, at least one step; the toolkit's forward scroll
// (button 1) moves it toward the bar's start, where the volume is lowest.
void cb_volume_scroll(Widget w, XtPointer, XtPointer call_data)
{
    int amount = static_cast<int>(reinterpret_cast<intptr_t>(call_data));
    Dimension length = 0;
    Arg arg;
    XtSetArg(arg, XtNlength, &length);
    XtGetValues(w, &arg, 1);
    if (length == 0)
        length = 1;

    double distance = std::fabs(static_cast<double>(amount)) / length * SCALE;
    int steps = static_cast<int>(std::min(std::max(1.0, distance), static_cast<double>(SCALE)));
    move_to(amount >= 0 ? place - steps : place + steps);
}

// As a drag to top does: the thumb moves, then the bar calls back.
void volume_move_thumb(float top)
{
    if (!volumeScrollbar)
        return;
    XawScrollbarSetThumb(volumeScrollbar, top, -1.0f);
    XtCallCallbacks(volumeScrollbar, XtNjumpProc, &top);
}

void volume_step(int direction)
{
    if (volumeScrollbar)
        move_to(place + (direction > 0 ? KEY_STEP : -KEY_STEP));
}
