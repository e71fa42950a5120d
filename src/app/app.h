// Application frame: the toolkit, the application resources and the
// debug trace.
#pragma once

#include <X11/Intrinsic.h>

struct AppResources {
    char *file;
    char *device;
    Boolean debug;
    Boolean displayTimer;
    float volBase;
    float volPcent;
    int replayThreshold;
    int pauseSkipInterval;
    int scanSkipInterval;
    float scanPauseInterval;
    float pausePauseInterval;
    char *cdInfoDir;
    // Digital playback: the audio is read and played through the sound card.
    Boolean digitalAudio;
    Boolean paranoia;
    Boolean deemphasis;
    int cdSpeed;
    char *audioDevice;
    // Names of discs and tracks.
    char *cddbPath;
    Boolean lookup;
    char *lookupServer;
    char *coverArtServer;
};

extern XtAppContext app_context;
extern Widget top_shell;
extern Widget mainForm;
extern AppResources app_resources;

Widget init_toolkit(int argc, char **argv);
void realize_main_window();

// printf-style trace on standard output, only while "debug" is True.
void debug_log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// A timer interval in milliseconds from a resource in seconds: the
// single-precision value times 1000 in double precision, truncated.
unsigned long interval_ms(float seconds);
