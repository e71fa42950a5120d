// The stored-program loader: program_start with the input as the stored
// program text, on a disc of tracks 2 to 30, then program_cancel.  Needs
// an X display (the selections are toggle widgets).
#include <X11/Intrinsic.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"
#include "disc/cdrom.h"
#include "drive/sim.h"
#include "fuzz_support.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

static FILE *held_file;

static void fail(const char *what)
{
    fprintf(stderr, "fuzz_program: %s\n", what);
    abort();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string dir = fuzz_scratch_dir();
    std::string disc;
    for (int t = 2; t <= 30; t++)
        disc += "track " + std::to_string(t) + " " + std::to_string(10 + t) + ":00:00\n";
    disc += "leadout 41:00:00\n";
    fuzz_write_file(dir + "/disc", disc);

    static std::string device = "sim:" + dir + "/disc", info = dir;
    static std::vector<char *> argv = {const_cast<char *>("murbel"), const_cast<char *>("-device"),
                                       device.data(), const_cast<char *>("-cdInfoDir"),
                                       info.data(), nullptr};
    sim_use_manual_clock(true);
    mainForm = init_toolkit(static_cast<int>(argv.size()) - 1, argv.data());
    if (cdrom_open() == -1)
        fail("the disc does not open");
    logo_form_create(mainForm);
    buttons_form_create(mainForm);
    program_form_create(mainForm);
    realize_main_window();
    // The loader reads the stored text only while the disc has its file.
    held_file = fopen("/dev/null", "r");
    return 0;
}

static void process_events()
{
    while (XtAppPending(app_context) & XtIMXEvent)
        XtAppProcessEvent(app_context, XtIMXEvent);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    program_string.assign(reinterpret_cast<const char *>(data), size);
    info_file = held_file;
    // A third of the inputs load while paused, where each add moves curtrack.
    CDI.state = CDROM_PROGRAM | (size % 3 == 0 ? CDROM_PLAYING | CDROM_PAUSED : 0);
    program_start();

    int n = 0;
    std::string text;
    for (selection *s = CDI.program_head; s; s = s->next, n++) {
        if (!track_on_disc(s->track))
            fail("a selection of a track the disc lacks");
        text += (n ? "-" : "") + std::to_string(s->track);
    }
    if (n != CDI.lastprog)
        fail("lastprog is not the length of the list");
    if (n > 0 && text != program_string)
        fail("program_string does not read as the list");
    if (static_cast<size_t>(n) > size / 2 + 1)
        fail("more selections than stored tracks");
    if (CDI.curtrack != 0 && !track_on_disc(CDI.curtrack))
        fail("curtrack off the disc");

    program_cancel();
    if (CDI.program_head || CDI.lastprog != 0 || (CDI.state & CDROM_PROGRAM))
        fail("cancel left a program behind");
    // Clearing an empty list leaves the stored text as it was (a text of
    // no usable track); clearing selections empties it.
    if (n > 0 && !program_string.empty())
        fail("cancel left the program text behind");
    CDI.state = 0;
    CDI.curtrack = 0;
    info_file = nullptr;
    process_events();
    return 0;
}
