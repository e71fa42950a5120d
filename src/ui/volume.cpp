// The volume scrollbar.  The volume is never read back from the drive: the
// player keeps its own value and sends it whenever it changes.
#include "ui/ui.h"

#include <X11/StringDefs.h>
#include <X11/Xaw/Scrollbar.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "app/app.h"
#include "disc/cdrom.h"

static int clamp_volume(int v)
{
    if (v > 255)
        v = 255;
    if (v < 2)
        v = 1;
    return v;
}

static void send_volume()
{
    debug_log(1, "volume=%u\n", static_cast<unsigned>(volume));
    cdrom_volume(static_cast<uint8_t>(volume), static_cast<uint8_t>(volume));
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
    XawScrollbarSetThumb(volumeScrollbar, 0.75f, 1.0f);
}

void cb_volume_jump(Widget, XtPointer, XtPointer call_data)
{
    float fraction = *static_cast<float *>(call_data);
    int k = static_cast<int>(fraction * 255.0f);
    int v = static_cast<int>(static_cast<float>(k) * app_resources.volPcent +
                             app_resources.volBase);
    volume = clamp_volume(v);
    send_volume();
}

// The step grows with the volume and with how far along the bar the
// pointer is; the toolkit's forward scroll lowers the volume.
void cb_volume_scroll(Widget w, XtPointer, XtPointer call_data)
{
    int amount = static_cast<int>(reinterpret_cast<intptr_t>(call_data));
    Dimension length = 0;
    Arg arg;
    XtSetArg(arg, XtNlength, &length);
    XtGetValues(w, &arg, 1);
    if (length == 0)
        length = 1;

    double x = std::fabs(static_cast<double>(amount)) / length * volume;
    double step = std::max(1.0, x);
    double v = amount >= 0 ? volume - step : volume + step;
    volume = clamp_volume(static_cast<int>(v));
    send_volume();
    XawScrollbarSetThumb(volumeScrollbar, static_cast<float>(volume / 255.0), -1.0f);
}
