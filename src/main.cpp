// murbel: an audio-CD player for the X Window System.  The one place that
// knows every layer: it starts them in order and wires the names layer to
// the disc's comings and goings before the drive is first opened.
#include "app/app.h"
#include "audio/audio.h"
#include "disc/cdrom.h"
#include "mpris/mpris.h"
#include "names/names.h"
#include "playback/commands.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

int main(int argc, char **argv)
{
    mainForm = init_toolkit(argc, argv);
    names_start();
    cdrom_open();
    logo_form_create(mainForm);
    buttons_form_create(mainForm);
    program_form_create(mainForm);
    realize_main_window();
    mpris_start();
    audio_watch_faults(command_watch_play_failures);
    cdrom_poll(nullptr, nullptr);
    XtAppMainLoop(app_context);
    return 0;
}
