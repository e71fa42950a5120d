// murbel: an audio-CD player for the X Window System.
#include "app/app.h"
#include "disc/cdrom.h"
#include "mpris/mpris.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

int main(int argc, char **argv)
{
    mainForm = init_toolkit(argc, argv);
    cdrom_open();
    logo_form_create(mainForm);
    buttons_form_create(mainForm);
    program_form_create(mainForm);
    realize_main_window();
    mpris_start();
    cdrom_poll(nullptr, nullptr);
    XtAppMainLoop(app_context);
    return 0;
}
