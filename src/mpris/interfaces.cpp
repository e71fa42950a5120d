// The two MPRIS interfaces: each property a small getter over the player's
// state, each method a click on the button that does the same (the
// button's own actions run, so its look and the trace are a click's).
// sd-bus checks signatures, methods and paths itself and answers what
// does not fit with an error; what is checked here is what the values say.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/app.h"
#include "disc/cdrom.h"
#include "disc/disc_change.h"
#include "drive/drive.h"
#include "mpris/internal.h"
#include "mpris/mpris.h"
#include "names/names.h"
#include "playback/commands.h"
#include "playback/playback.h"
#include "program/program.h"

static const char *const NO_TRACK = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
static const char *const DISC_PREFIX = "/org/murbel/disc/";

// ---- the player's state as MPRIS sees it ----

static bool playing_unpaused()
{
    return (CDI.state & CDROM_PLAYING) && !(CDI.state & CDROM_PAUSED);
}

std::string mpris_playback_status()
{
    if (playing_unpaused())
        return "Playing";
    return (CDI.state & CDROM_PAUSED) ? "Paused" : "Stopped";
}

std::string mpris_loop_status()
{
    return (CDI.state & CDROM_CYCLE) ? "Playlist" : "None";
}

bool mpris_shuffle()
{
    return CDI.state & CDROM_SHUFFLE;
}

// The volume bar's place, as the user sees the volume.
double mpris_volume()
{
    return volume_place;
}

bool mpris_disc_present()
{
    return !(CDI.state & CDROM_EJECTED) && CDI.max != 0 && tables_present();
}

// Whether Next would move: the same choice as the next button's.
bool mpris_can_go_next()
{
    if (!mpris_disc_present())
        return false;
    if (CDI.state & CDROM_SHUFFLE)
        return CDI.currand != CDI.total;
    if (playing_unpaused() && CDI.program_head)
        return program_peek_next() != 0;
    return CDI.curtrack < CDI.max;
}

static bool has_track()
{
    return (CDI.state & CDROM_PLAYING) && track_on_disc(CDI.curtrack);
}

bool mpris_can_seek()
{
    return mpris_disc_present() && has_track();
}

static long track_start(int t)
{
    return msf_frames(CDI.addrs[t - CDI.min]);
}

static int64_t frames_us(long frames)
{
    return static_cast<int64_t>(frames) * 1000000 / MSF_FRAMES_PER_SECOND;
}

static int64_t track_length_us(int t)
{
    return frames_us(msf_frames(CDI.addrs[t - CDI.min + 1]) - track_start(t));
}

// Where the drive is in the current track, to the frame.
int64_t mpris_position_us()
{
    if (!has_track())
        return 0;
    msf_t pos{};
    if (cdrom_get_msf(&pos) == -1)
        return static_cast<int64_t>(std::max(CDI.dur, 0)) * 1000000;
    int64_t us = frames_us(msf_frames(pos) - track_start(CDI.curtrack));
    return std::clamp<int64_t>(us, 0, track_length_us(CDI.curtrack));
}

// A disc brought in is a new list of tracks: clients that hold a track
// id (SetPosition) or wait for it to change (after OpenUri) must not take
// a track of another disc for the one they meant.
static std::string track_prefix()
{
    return DISC_PREFIX + std::to_string(disc_changes) + "/track/";
}

std::string mpris_trackid()
{
    if (!has_track())
        return NO_TRACK;
    return track_prefix() + std::to_string(CDI.curtrack);
}

// The names known for the current track; the stored title stands in for
// the album when nothing else names the disc.
struct track_meta {
    std::string title, album, artist;
};

static track_meta meta_of(int t)
{
    track_meta m;
    size_t i = static_cast<size_t>(t - CDI.min);
    if (i < known_names.tracks.size()) {
        m.title = known_names.tracks[i].title;
        m.artist = known_names.tracks[i].artist;
    }
    if (m.artist.empty())
        m.artist = known_names.artist;
    m.album = known_names.album;
    // "No Title" and "No Disc" are the player's own words, not a name.
    if (m.album.empty() && title && title->find_first_not_of(" \t") != std::string::npos &&
        *title != "No Title" && *title != "No Disc" && mpris_disc_present())
        m.album = *title;
    return m;
}

std::string mpris_metadata_key()
{
    std::string key = mpris_trackid();
    if (has_track()) {
        track_meta m = meta_of(CDI.curtrack);
        key += '\n' + std::to_string(track_length_us(CDI.curtrack)) + '\n' + m.title + '\n' +
               m.album + '\n' + m.artist;
    } else if (mpris_disc_present()) {
        key += '\n' + meta_of(CDI.min).album;
    }
    key += '\n' + names_art_url();
    return key;
}

// ---- changes the desktop asks for: clicks on the buttons ----

// An error whose text may name a file: a path is bytes, the bus wants
// UTF-8.
static int refuse(sd_bus_error *error, const char *name, const std::string &message)
{
    return sd_bus_error_set(error, name, mpris_utf8(message).c_str());
}

static int reply_done(sd_bus_message *m)
{
    mpris_check_changes();
    return sd_bus_reply_method_return(m, nullptr);
}

static int method_play(sd_bus_message *m, void *, sd_bus_error *)
{
    // Play resumes a paused disc, which on the window is the pause button.
    if (CDI.state & CDROM_PAUSED)
        command_run(command::pause);
    else if (!(CDI.state & CDROM_PLAYING))
        command_run(command::play);
    return reply_done(m);
}

static int method_pause(sd_bus_message *m, void *, sd_bus_error *)
{
    if (playing_unpaused())
        command_run(command::pause);
    return reply_done(m);
}

static int method_play_pause(sd_bus_message *m, void *, sd_bus_error *)
{
    command_run((CDI.state & CDROM_PLAYING) ? command::pause : command::play);
    return reply_done(m);
}

static int method_stop(sd_bus_message *m, void *, sd_bus_error *)
{
    if (CDI.state & CDROM_PLAYING)
        command_run(command::stop);
    return reply_done(m);
}

static int method_next(sd_bus_message *m, void *, sd_bus_error *)
{
    command_run(command::next);
    return reply_done(m);
}

static int method_previous(sd_bus_message *m, void *, sd_bus_error *)
{
    command_run(command::previous);
    return reply_done(m);
}

static void seek_to_us(int64_t us)
{
    cdrom_seek(static_cast<long>(us * MSF_FRAMES_PER_SECOND / 1000000));
    mpris_seeked();
}

static int method_seek(sd_bus_message *m, void *, sd_bus_error *)
{
    int64_t offset = 0;
    int r = sd_bus_message_read(m, "x", &offset);
    if (r < 0)
        return r;
    if (!mpris_can_seek())
        return reply_done(m);
    int64_t now = mpris_position_us();
    int64_t length = track_length_us(CDI.curtrack);
    // Past the end is the next track, as MPRIS has it; before the start
    // is the start.  Compared so that no offset overflows a sum.
    if (offset > 0 && offset >= length - now)
        command_run(command::next);
    else
        seek_to_us(offset < -now ? 0 : now + offset);
    return reply_done(m);
}

static int track_of_id(const char *id)
{
    std::string prefix = track_prefix();
    size_t n = prefix.size();
    if (strncmp(id, prefix.c_str(), n) != 0)
        return 0;
    const char *digits = id + n;
    if (!*digits || strlen(digits) > 2 || strspn(digits, "0123456789") != strlen(digits))
        return 0;
    int t = atoi(digits);
    return track_on_disc(t) ? t : 0;
}

static int method_set_position(sd_bus_message *m, void *, sd_bus_error *error)
{
    const char *id = nullptr;
    int64_t position = 0;
    int r = sd_bus_message_read(m, "ox", &id, &position);
    if (r < 0)
        return r;
    int t = track_of_id(id);
    // A place beyond the disc's end is a mistake, not a stale request.
    if (t && position > 0 &&
        position > frames_us(msf_frames(CDI.addrs.back()) - track_start(t)))
        return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS,
                                 "Position %" PRId64 " lies past the end of the disc", position);
    // Another track's id, a negative place or one past the track's end:
    // ignored, as MPRIS asks.
    if (!mpris_can_seek() || t != CDI.curtrack || position < 0 ||
        position > track_length_us(t))
        return reply_done(m);
    seek_to_us(position);
    return reply_done(m);
}

// ---- OpenUri: another disc ----

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The local path of a file URI, or false.
static bool file_uri_path(const std::string &uri, std::string *path)
{
    std::string rest;
    if (uri.rfind("file:///", 0) == 0)
        rest = uri.substr(7);
    else if (uri.rfind("file://localhost/", 0) == 0)
        rest = uri.substr(16);
    else
        return false;
    path->clear();
    for (size_t i = 0; i < rest.size(); i++) {
        if (rest[i] != '%') {
            path->push_back(rest[i]);
            continue;
        }
        int hi = i + 2 < rest.size() ? hex_value(rest[i + 1]) : -1;
        int lo = i + 2 < rest.size() ? hex_value(rest[i + 2]) : -1;
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0))
            return false;
        path->push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return true;
}

// Whether the drive layer can read a disc from the device, asked on a
// handle of its own so that the player's drive is not touched.
static int probe_device(const std::string &device, std::string *why)
{
    int h = drive_open(device.c_str());
    if (h < 0) {
        *why = strerror(errno);
        return -1;
    }
    drive_toc_header hdr{};
    int r = drive_read_toc_header(h, &hdr);
    int err = errno;
    drive_close(h);
    if (r == -1) {
        *why = strerror(err);
        return -1;
    }
    if (hdr.first == 0 || hdr.last < hdr.first || hdr.last > 99) {
        *why = "no audio tracks";
        return -1;
    }
    return 0;
}

static int method_open_uri(sd_bus_message *m, void *, sd_bus_error *error)
{
    const char *uri = nullptr;
    int r = sd_bus_message_read(m, "s", &uri);
    if (r < 0)
        return r;
    std::string path, device;
    if (file_uri_path(uri, &path)) {
        device = path;
    } else if (strncmp(uri, "sim:", 4) == 0) {
        device = uri;
        path = uri + 4;
    } else {
        return sd_bus_error_setf(error, SD_BUS_ERROR_NOT_SUPPORTED,
                                 "Only file URIs can be opened: %s", uri);
    }
    struct stat st{};
    int err = ENOENT;
    if (path.empty() || stat(path.c_str(), &st) == -1 || access(path.c_str(), R_OK) == -1) {
        if (!path.empty())
            err = errno;
        return refuse(error, SD_BUS_ERROR_FILE_NOT_FOUND, path + ": " + strerror(err));
    }
    // A pipe or a directory would hang or fool the reader; a drive is a
    // device node.
    bool node = device == path && (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode));
    if (!S_ISREG(st.st_mode) && !node)
        return refuse(error, SD_BUS_ERROR_INVALID_ARGS, path + " is not a disc file");
    std::string why;
    if (probe_device(device, &why) == -1)
        return refuse(error, SD_BUS_ERROR_INVALID_ARGS, path + " holds no playable disc: " + why);
    debug_log(1, "mpris: opening %s\n", device.c_str());
    command_open_device(device);
    return reply_done(m);
}

// ---- the root interface ----

static int method_raise(sd_bus_message *m, void *, sd_bus_error *)
{
    command_raise();
    return sd_bus_reply_method_return(m, nullptr);
}

static void cb_quit_later(XtPointer, XtIntervalId *)
{
    command_run(command::quit);
}

// The reply goes out first; the quit button's click ends the process.
static int method_quit(sd_bus_message *m, void *, sd_bus_error *)
{
    XtAppAddTimeOut(app_context, 0, cb_quit_later, nullptr);
    return sd_bus_reply_method_return(m, nullptr);
}

// ---- properties ----

#define GETTER(name)                                                                      \
    static int name(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, \
                    void *, sd_bus_error *)

GETTER(get_true)
{
    return sd_bus_message_append(reply, "b", 1);
}

GETTER(get_false)
{
    return sd_bus_message_append(reply, "b", 0);
}

GETTER(get_identity)
{
    return sd_bus_message_append(reply, "s", "Murbel");
}

// The installed desktop entry's name, which is also the AppStream id.
GETTER(get_desktop_entry)
{
    return sd_bus_message_append(reply, "s", "org.example.murbel");
}

GETTER(get_uri_schemes)
{
    return sd_bus_message_append(reply, "as", 1, "file");
}

GETTER(get_mime_types)
{
    return sd_bus_message_append(reply, "as", 1, "application/x-cue");
}

GETTER(get_playback_status)
{
    return sd_bus_message_append(reply, "s", mpris_playback_status().c_str());
}

GETTER(get_loop_status)
{
    return sd_bus_message_append(reply, "s", mpris_loop_status().c_str());
}

GETTER(get_rate)
{
    return sd_bus_message_append(reply, "d", 1.0);
}

GETTER(get_shuffle)
{
    return sd_bus_message_append(reply, "b", mpris_shuffle() ? 1 : 0);
}

GETTER(get_volume)
{
    return sd_bus_message_append(reply, "d", mpris_volume());
}

GETTER(get_position)
{
    return sd_bus_message_append(reply, "x", mpris_position_us());
}

GETTER(get_disc_present)
{
    return sd_bus_message_append(reply, "b", mpris_disc_present() ? 1 : 0);
}

GETTER(get_can_go_next)
{
    return sd_bus_message_append(reply, "b", mpris_can_go_next() ? 1 : 0);
}

GETTER(get_can_seek)
{
    return sd_bus_message_append(reply, "b", mpris_can_seek() ? 1 : 0);
}

static int append_entry(sd_bus_message *reply, const char *key, const char *type,
                        const void *value)
{
    int r = sd_bus_message_open_container(reply, 'e', "sv");
    if (r >= 0)
        r = sd_bus_message_append(reply, "s", key);
    if (r >= 0)
        r = sd_bus_message_open_container(reply, 'v', type);
    if (r >= 0) {
        // Names may come from anywhere: what goes out is UTF-8.
        std::string text;
        if (type[0] == 's' || type[1] == 's')
            text = mpris_utf8(static_cast<const char *>(value));
        if (strcmp(type, "as") == 0)
            r = sd_bus_message_append(reply, "as", 1, text.c_str());
        else if (type[0] == 's')
            r = sd_bus_message_append_basic(reply, 's', text.c_str());
        else
            r = sd_bus_message_append_basic(reply, type[0], value);
    }
    if (r >= 0)
        r = sd_bus_message_close_container(reply);
    if (r >= 0)
        r = sd_bus_message_close_container(reply);
    return r;
}

GETTER(get_metadata)
{
    int r = sd_bus_message_open_container(reply, 'a', "{sv}");
    std::string id = mpris_trackid();
    if (r >= 0)
        r = append_entry(reply, "mpris:trackid", "o", id.c_str());
    if (has_track() && r >= 0) {
        int t = CDI.curtrack;
        track_meta meta = meta_of(t);
        int64_t length = track_length_us(t);
        int32_t number = t;
        r = append_entry(reply, "mpris:length", "x", &length);
        if (r >= 0)
            r = append_entry(reply, "xesam:trackNumber", "i", &number);
        if (r >= 0 && !meta.title.empty())
            r = append_entry(reply, "xesam:title", "s", meta.title.c_str());
        if (r >= 0 && !meta.album.empty())
            r = append_entry(reply, "xesam:album", "s", meta.album.c_str());
        if (r >= 0 && !meta.artist.empty())
            r = append_entry(reply, "xesam:artist", "as", meta.artist.c_str());
    } else if (mpris_disc_present() && r >= 0) {
        track_meta meta = meta_of(CDI.min);
        if (!meta.album.empty())
            r = append_entry(reply, "xesam:album", "s", meta.album.c_str());
    }
    std::string art = names_art_url();
    if (r >= 0 && !art.empty())
        r = append_entry(reply, "mpris:artUrl", "s", art.c_str());
    if (r >= 0)
        r = sd_bus_message_close_container(reply);
    return r;
}

#define SETTER(name)                                                                      \
    static int name(sd_bus *, const char *, const char *, const char *, sd_bus_message *value, \
                    void *, [[maybe_unused]] sd_bus_error *error)

// Repeat covers the whole disc (or program); asked to repeat a track, the
// player repeats what it can rather than refuse a desktop's loop button.
SETTER(set_loop_status)
{
    const char *want = nullptr;
    int r = sd_bus_message_read(value, "s", &want);
    if (r < 0)
        return r;
    bool on;
    if (strcmp(want, "None") == 0)
        on = false;
    else if (strcmp(want, "Playlist") == 0 || strcmp(want, "Track") == 0)
        on = true;
    else
        return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "No loop status \"%s\"", want);
    if (on != bool(CDI.state & CDROM_CYCLE))
        command_run(command::cycle);
    mpris_check_changes();
    return 0;
}

// Turning shuffle on while a disc plays is refused with the bell, as on
// the window.
SETTER(set_shuffle)
{
    int want = 0;
    int r = sd_bus_message_read(value, "b", &want);
    if (r < 0)
        return r;
    if (bool(want) != mpris_shuffle())
        command_run(command::shuffle);
    mpris_check_changes();
    return 0;
}

// The thumb moves and the scrollbar's jump callback runs, as a drag does.
SETTER(set_volume)
{
    double want = 0;
    int r = sd_bus_message_read(value, "d", &want);
    if (r < 0)
        return r;
    if (std::isnan(want))
        return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "Volume is not a number");
    want = std::clamp(want, 0.0, 1.0);
    float top = static_cast<float>(want);
    // A client that prints the volume it read with a few decimals and sends
    // it back must not move the bar: a hair below a step is that step.
    int step = static_cast<int>(want * 255.0 + 1e-3);
    if (step > static_cast<int>(top * 255.0f))
        top = static_cast<float>(step) / 255.0f;
    command_volume(top);
    mpris_check_changes();
    return 0;
}

// A disc plays at one rate.  MPRIS has a rate of 0.0 act as Pause and
// any other rate out of MinimumRate..MaximumRate ignored.
SETTER(set_rate)
{
    double want = 0;
    int r = sd_bus_message_read(value, "d", &want);
    if (r < 0)
        return r;
    if (want == 0.0 && playing_unpaused())
        command_run(command::pause);
    mpris_check_changes();
    return 0;
}

// ---- the tables ----

static const sd_bus_vtable root_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Raise", "", "", method_raise, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Quit", "", "", method_quit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("CanQuit", "b", get_true, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("CanRaise", "b", get_true, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("HasTrackList", "b", get_false, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Identity", "s", get_identity, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("DesktopEntry", "s", get_desktop_entry, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("SupportedUriSchemes", "as", get_uri_schemes, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("SupportedMimeTypes", "as", get_mime_types, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END,
};

#define CHANGING SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE

static const sd_bus_vtable player_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Play", "", "", method_play, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Pause", "", "", method_pause, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PlayPause", "", "", method_play_pause, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Stop", "", "", method_stop, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Next", "", "", method_next, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Previous", "", "", method_previous, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Seek", "x", SD_BUS_PARAM(Offset), "", "", method_seek,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetPosition", "ox", SD_BUS_PARAM(TrackId) SD_BUS_PARAM(Position),
                             "", "", method_set_position, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("OpenUri", "s", SD_BUS_PARAM(Uri), "", "", method_open_uri,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL_WITH_NAMES("Seeked", "x", SD_BUS_PARAM(Position), 0),
    SD_BUS_PROPERTY("PlaybackStatus", "s", get_playback_status, 0, CHANGING),
    SD_BUS_WRITABLE_PROPERTY("LoopStatus", "s", get_loop_status, set_loop_status, 0,
                             CHANGING | SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_WRITABLE_PROPERTY("Rate", "d", get_rate, set_rate, 0,
                             CHANGING | SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_WRITABLE_PROPERTY("Shuffle", "b", get_shuffle, set_shuffle, 0,
                             CHANGING | SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("Metadata", "a{sv}", get_metadata, 0, CHANGING),
    SD_BUS_WRITABLE_PROPERTY("Volume", "d", get_volume, set_volume, 0,
                             CHANGING | SD_BUS_VTABLE_UNPRIVILEGED),
    // Moves all the time; signalled only on jumps, with Seeked.
    SD_BUS_PROPERTY("Position", "x", get_position, 0, 0),
    SD_BUS_PROPERTY("MinimumRate", "d", get_rate, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("MaximumRate", "d", get_rate, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("CanGoNext", "b", get_can_go_next, 0, CHANGING),
    SD_BUS_PROPERTY("CanGoPrevious", "b", get_disc_present, 0, CHANGING),
    SD_BUS_PROPERTY("CanPlay", "b", get_disc_present, 0, CHANGING),
    SD_BUS_PROPERTY("CanPause", "b", get_disc_present, 0, CHANGING),
    SD_BUS_PROPERTY("CanSeek", "b", get_can_seek, 0, CHANGING),
    SD_BUS_PROPERTY("CanControl", "b", get_true, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END,
};

int mpris_add_interfaces(sd_bus *bus)
{
    int r = sd_bus_add_object_vtable(bus, nullptr, MPRIS_PATH, MPRIS_ROOT, root_vtable, nullptr);
    if (r >= 0)
        r = sd_bus_add_object_vtable(bus, nullptr, MPRIS_PATH, MPRIS_PLAYER, player_vtable,
                                     nullptr);
    return r;
}
