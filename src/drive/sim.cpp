// The simulated drive.  A disc file describes the disc; the drive plays it
// against a clock, as a real drive plays on by itself between requests.
//
// The disc file is in a tray (drive/tray.h) that every request looks at: a
// file that changed is a disc put in, so it is read again and the drive
// goes idle; that is also how a disc returns after an eject.  The drive's
// state lives per path for the whole process, because the player closes
// the drive on eject and opens it again later.
#include "drive/sim.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "drive/tray.h"

#ifndef ENOMEDIUM
#define ENOMEDIUM ENXIO  // not every system has a word for an empty drive
#endif

namespace {

enum request {
    REQ_TOC_HEADER,
    REQ_TOC_ENTRY,
    REQ_SUBCHANNEL,
    REQ_PLAY,
    REQ_PAUSE,
    REQ_RESUME,
    REQ_STOP,
    REQ_ALLOW,
    REQ_EJECT,
    REQ_VOLUME,
    REQ_COUNT
};

const char *const request_names[REQ_COUNT] = {
    "toc-header", "toc-entry", "subchannel", "play", "pause",
    "resume", "stop", "allow", "eject", "volume",
};

// Play positions are kept in millionths of a frame, so that no time is
// lost between queries however often the player asks.
constexpr int64_t UNITS_PER_FRAME = 1000000;

// What a disc file says.
struct disc {
    int first = 0;
    std::vector<long> starts;  // frames of each track's start
    std::vector<bool> data;    // per track: a data track
    long leadout = -1;         // frames; -1 until its line is read
    int speed = 1;
    uint8_t idle = CD_AS_NO_STATUS;
    enum { START_IDLE, START_PLAYING, START_PAUSED } start = START_IDLE;
    long start_at = 0;
    bool refused[REQ_COUNT] = {};
    std::string log;

    int last() const { return first + static_cast<int>(starts.size()) - 1; }
};

enum play_state { IDLE, PLAYING, PAUSED, COMPLETED };

struct sim_drive {
    tray tr;
    bool readable = false;  // the file parsed; disc holds it
    disc d;                 // the last disc read; its log and refusals outlive it
    play_state play = IDLE;
    int64_t pos = 0, end = 0;  // in UNITS_PER_FRAME
    int64_t last_us = 0;       // clock of the last update
};

// An open handle names its drive by path, so a handle kept across
// sim_reset_all meets a fresh drive instead of a freed one.
struct sim_handle {
    std::string path;
    unsigned generation;  // of the tray, when the disc was read through it
};

std::map<std::string, sim_drive> drives;
int refusals[REQ_COUNT];
int forced_status = -1, forced_track = 0;
int last_left = -1, last_right = -1;
bool manual_clock = false;
// The manual clock is this offset alone; on the real clock it carries
// sim_advance_ms and keeps the time continuous across a switch.
int64_t clock_offset_us = 0;

int64_t real_us()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t now_us()
{
    return (manual_clock ? 0 : real_us()) + clock_offset_us;
}

// ---- reading the disc file ----

struct parse_error {
    int line;
    std::string what;
};

// MM:SS:FF, two digits each.
bool parse_msf(const std::string &text, long *frame)
{
    if (text.size() != 8 || text[2] != ':' || text[5] != ':')
        return false;
    for (int i : {0, 1, 3, 4, 6, 7})
        if (text[i] < '0' || text[i] > '9')
            return false;
    auto two = [&text](int i) { return (text[i] - '0') * 10 + text[i + 1] - '0'; };
    int m = two(0), s = two(3), f = two(6);
    if (s >= MSF_SECONDS_PER_MINUTE || f >= MSF_FRAMES_PER_SECOND)
        return false;
    *frame = msf_frames(m, s, f);
    return true;
}

bool parse_int(const std::string &text, int lo, int hi, int *value)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::stoi(text);
    return *value >= lo && *value <= hi;
}

std::string quoted(const std::string &s)
{
    return "\"" + s + "\"";
}

int request_named(const std::string &name)
{
    for (int r = 0; r < REQ_COUNT; r++)
        if (name == request_names[r])
            return r;
    return -1;
}

// One line, comment already gone, split into words.
void parse_line(disc &d, int line, const std::vector<std::string> &w, const std::string &rest)
{
    const std::string &key = w[0];
    auto fail = [line](const std::string &what) { throw parse_error{line, what}; };
    const char *address_form = " (minute:second:frame as MM:SS:FF, seconds 0-59, frames 0-74)";
    long at;

    if (key == "track") {
        int n;
        if (w.size() != 3 && !(w.size() == 4 && w[3] == "data"))
            fail("track wants a number and an address, and \"data\" for a data track, "
                 "e.g. \"track 1 00:02:00\"");
        if (!parse_int(w[1], 1, 99, &n))
            fail("bad track number " + quoted(w[1]) + " (1 to 99)");
        if (!parse_msf(w[2], &at))
            fail("bad address " + quoted(w[2]) + address_form);
        if (d.leadout >= 0)
            fail("track after the leadout");
        if (d.starts.empty())
            d.first = n;
        else if (n != d.first + static_cast<int>(d.starts.size()))
            fail("track " + std::to_string(n) + " does not follow track " +
                 std::to_string(d.first + d.starts.size() - 1));
        else if (at <= d.starts.back())
            fail("track " + std::to_string(n) + " does not start after track " + std::to_string(n - 1));
        d.starts.push_back(at);
        d.data.push_back(w.size() == 4);
    } else if (key == "leadout") {
        if (w.size() != 2)
            fail("leadout wants an address, e.g. \"leadout 10:30:12\"");
        if (!parse_msf(w[1], &at))
            fail("bad address " + quoted(w[1]) + address_form);
        if (d.leadout >= 0)
            fail("a second leadout");
        if (d.starts.empty())
            fail("leadout before any track");
        if (at <= d.starts.back())
            fail("leadout does not come after the last track");
        d.leadout = at;
    } else if (key == "speed") {
        if (w.size() != 2 || !parse_int(w[1], 1, 1000, &d.speed))
            fail("speed wants a whole number from 1 to 1000");
    } else if (key == "idle") {
        if (w.size() == 2 && w[1] == "no-status")
            d.idle = CD_AS_NO_STATUS;
        else if (w.size() == 2 && w[1] == "invalid")
            d.idle = CD_AS_AUDIO_INVALID;
        else if (w.size() == 2 && w[1] == "completed")
            d.idle = CD_AS_PLAY_COMPLETED;
        else
            fail("idle wants no-status, invalid or completed");
    } else if (key == "start") {
        if (w.size() != 3 || (w[1] != "playing" && w[1] != "paused"))
            fail("start wants playing or paused and an address, e.g. \"start playing 04:20:00\"");
        if (!parse_msf(w[2], &d.start_at))
            fail("bad address " + quoted(w[2]) + address_form);
        d.start = w[1] == "playing" ? disc::START_PLAYING : disc::START_PAUSED;
    } else if (key == "refuse") {
        if (w.size() < 2)
            fail("refuse wants one or more requests");
        for (size_t i = 1; i < w.size(); i++) {
            int r = request_named(w[i]);
            if (r < 0)
                fail("unknown request " + quoted(w[i]) +
                     " (toc-header toc-entry subchannel play pause resume stop allow eject volume)");
            d.refused[r] = true;
        }
    } else if (key == "log") {
        if (rest.empty())
            fail("log wants a file name");
        d.log = rest;
    } else {
        fail("unknown keyword " + quoted(key));
    }
}

// The same blanks as the split into words, so that a line left with text
// has a first word and begins with it.
const char *const blanks = " \t\n\v\f\r";

std::string trim(const std::string &s)
{
    size_t b = s.find_first_not_of(blanks);
    if (b == std::string::npos)
        return "";
    return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

// Reads the disc file into d; on bad input throws parse_error.
void parse_disc(const std::string &path, disc &d)
{
    std::ifstream in(path);
    if (!in)
        throw parse_error{0, std::string("cannot read: ") + strerror(errno)};
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        line++;
        text = trim(text.substr(0, text.find('#')));
        if (text.empty())
            continue;
        std::istringstream words(text);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty())
            continue;
        parse_line(d, line, w, trim(text.substr(w[0].size())));
    }
    if (d.starts.empty())
        throw parse_error{line, "no tracks"};
    if (d.leadout < 0)
        throw parse_error{line, "no leadout after the last track"};
    if (d.start != disc::START_IDLE && d.start_at >= d.leadout)
        throw parse_error{line, "start address not before the leadout"};
}

// ---- the drive ----

void load(sim_drive &dr, const std::string &path)
{
    dr.readable = false;
    dr.play = IDLE;
    dr.pos = dr.end = 0;
    if (!dr.tr.id.exists)
        return;
    disc d;
    try {
        parse_disc(path, d);
    } catch (const parse_error &e) {
        // Once per version of the file: the player's poll reopens every second.
        fprintf(stderr, "murbel: %s:%d: %s\n", path.c_str(), e.line, e.what.c_str());
        fflush(stderr);
        return;
    }
    dr.d = d;
    dr.readable = true;
}

void advance(sim_drive &dr, int64_t now)
{
    if (dr.play == PLAYING) {
        if (now > dr.last_us)
            dr.pos += (now - dr.last_us) * MSF_FRAMES_PER_SECOND * dr.d.speed;
        if (dr.pos >= dr.end) {
            dr.pos = dr.end;
            dr.play = COMPLETED;
        }
    }
    dr.last_us = now;
}

// Brings the drive up to date: the disc in it, and how far it has played.
void sync(sim_drive &dr, const std::string &path)
{
    if (tray_look(dr.tr, path))
        load(dr, path);
    advance(dr, now_us());
}

void start_play(sim_drive &dr, long from, long to, play_state state)
{
    dr.pos = from * UNITS_PER_FRAME;
    dr.end = to * UNITS_PER_FRAME;
    dr.play = state;
}

// Every request starts here: the drive is brought up to date (so that a
// disc just put in logs to its own file) and the request logged.
sim_drive &begin(void *handle, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

sim_drive &begin(void *handle, const char *fmt, ...)
{
    const std::string &path = static_cast<sim_handle *>(handle)->path;
    sim_drive &dr = drives[path];
    sync(dr, path);
    if (!dr.d.log.empty()) {
        if (FILE *f = fopen(dr.d.log.c_str(), "a")) {
            va_list ap;
            va_start(ap, fmt);
            vfprintf(f, fmt, ap);
            va_end(ap);
            fputc('\n', f);
            fclose(f);
        }
    }
    return dr;
}

bool is_refused(sim_drive &dr, request req)
{
    int err = refusals[req] ? refusals[req] : dr.d.refused[req] ? EIO : 0;
    if (err)
        errno = err;
    return err != 0;
}

// The requests that need a disc in the drive fail like a drive's without.
bool no_disc(const sim_drive &dr)
{
    return !tray_disc_usable(dr.tr, dr.readable);
}

// Where the audio before data track i ends: at the track, or, for the
// data session after the audio of an enhanced CD, where that session's
// lead-out and lead-in begin, 11400 sectors before it.
long audio_end_before(const disc &d, size_t i)
{
    if (i > 0 && !d.data[i - 1] && d.starts[i] - 11400 > d.starts[i - 1])
        return d.starts[i] - 11400;
    return d.starts[i];
}

// A drive plays audio only: a play from inside a data track (or the gap
// before it) is refused, and one running into a data track ends before it.
bool clip_to_audio(const disc &d, long from, long *to)
{
    for (size_t i = 0; i < d.starts.size(); i++) {
        if (!d.data[i])
            continue;
        long begin = audio_end_before(d, i);
        long end = i + 1 < d.starts.size() ? d.starts[i + 1] : d.leadout;
        if (from >= begin && from < end)
            return false;
        if (begin > from && begin < *to)
            *to = begin;
    }
    return true;
}

int track_at(const disc &d, long frame)
{
    int t = d.first;
    for (int i = 1; i < static_cast<int>(d.starts.size()); i++)
        if (d.starts[i] <= frame)
            t = d.first + i;
    return t;
}

// ---- the operations ----

void *sim_open(const char *path)
{
    bool fresh = drives.find(path) == drives.end();
    sim_drive &dr = drives[path];
    sync(dr, path);
    if (dr.tr.id.exists && !dr.readable) {
        errno = EINVAL;
        return nullptr;
    }
    if (fresh && dr.readable && dr.d.start != disc::START_IDLE)
        start_play(dr, dr.d.start_at, dr.d.leadout,
                   dr.d.start == disc::START_PLAYING ? PLAYING : PAUSED);
    return new sim_handle{path, dr.tr.generation};
}

void sim_close(void *handle)
{
    delete static_cast<sim_handle *>(handle);
}

int sim_toc_header(void *handle, drive_toc_header *hdr)
{
    sim_drive &dr = begin(handle, "toc-header");
    if (is_refused(dr, REQ_TOC_HEADER) || no_disc(dr))
        return -1;
    static_cast<sim_handle *>(handle)->generation = dr.tr.generation;
    hdr->first = static_cast<uint8_t>(dr.d.first);
    hdr->last = static_cast<uint8_t>(dr.d.last());
    return 0;
}

int sim_toc_entry(void *handle, uint8_t track, drive_toc_entry *entry)
{
    sim_drive &dr = begin(handle, "toc-entry %d", track);
    if (is_refused(dr, REQ_TOC_ENTRY) || no_disc(dr))
        return -1;
    long at;
    if (track == DRIVE_LEADOUT) {
        at = dr.d.leadout;
    } else if (track >= dr.d.first && track <= dr.d.last()) {
        at = dr.d.starts[track - dr.d.first];
    } else {
        errno = EINVAL;
        return -1;
    }
    *entry = {};
    bool data = track != DRIVE_LEADOUT && dr.d.data[track - dr.d.first];
    entry->addr_ctl = data ? 0x14 : 0x10;  // Q mode 1; data or two-channel audio
    entry->track = track;
    drive_set_entry_msf(entry, msf_of(at));
    return 0;
}

int sim_position(void *handle, drive_position *pos)
{
    sim_drive &dr = begin(handle, "subchannel");
    if (is_refused(dr, REQ_SUBCHANNEL) || no_disc(dr))
        return -1;
    long frame = static_cast<long>(dr.pos / UNITS_PER_FRAME);
    pos->absolute = msf_of(frame);
    pos->track = 0;
    switch (dr.play) {
    case PLAYING:
        pos->audio_status = CD_AS_PLAY_IN_PROGRESS;
        pos->track = static_cast<uint8_t>(track_at(dr.d, frame));
        break;
    case PAUSED:
        pos->audio_status = CD_AS_PLAY_PAUSED;
        pos->track = static_cast<uint8_t>(track_at(dr.d, frame));
        break;
    case COMPLETED:  // told once, as drives do
        pos->audio_status = CD_AS_PLAY_COMPLETED;
        dr.play = IDLE;
        break;
    case IDLE:
        pos->audio_status = dr.d.idle;
        break;
    }
    if (forced_status >= 0) {
        pos->audio_status = static_cast<uint8_t>(forced_status);
        pos->track = static_cast<uint8_t>(forced_track);
    }
    return 0;
}

int sim_play_msf(void *handle, const msf_t *start, const msf_t *end)
{
    sim_drive &dr = begin(handle, "play %02d:%02d:%02d %02d:%02d:%02d", start->minute, start->second,
             start->frame, end->minute, end->second, end->frame);
    if (is_refused(dr, REQ_PLAY) || no_disc(dr))
        return -1;
    long from = msf_frames(*start);
    long to = msf_frames(*end);
    if (!msf_valid(*start) || !msf_valid(*end) || from > to || to > dr.d.leadout) {
        errno = EINVAL;
        return -1;
    }
    if (!clip_to_audio(dr.d, from, &to)) {
        errno = EIO;
        return -1;
    }
    start_play(dr, from, to, PLAYING);
    return 0;
}

// Pause and resume are fine while a play is under way, paused or not, and
// an error with nothing to pause or resume.
int pause_or_resume(void *handle, request req, play_state to)
{
    sim_drive &dr = begin(handle, "%s", request_names[req]);
    if (is_refused(dr, req) || no_disc(dr))
        return -1;
    if (dr.play != PLAYING && dr.play != PAUSED) {
        errno = EIO;
        return -1;
    }
    dr.play = to;
    return 0;
}

int sim_pause(void *handle)
{
    return pause_or_resume(handle, REQ_PAUSE, PAUSED);
}

int sim_resume(void *handle)
{
    return pause_or_resume(handle, REQ_RESUME, PLAYING);
}

int sim_stop(void *handle)
{
    sim_drive &dr = begin(handle, "stop");
    if (is_refused(dr, REQ_STOP) || no_disc(dr))
        return -1;
    dr.play = IDLE;
    return 0;
}

int sim_allow(void *handle)
{
    sim_drive &dr = begin(handle, "allow");
    return is_refused(dr, REQ_ALLOW) ? -1 : 0;
}

// The tray opens whether or not removal was allowed: the lock is not modelled.
int sim_eject(void *handle)
{
    sim_drive &dr = begin(handle, "eject");
    if (is_refused(dr, REQ_EJECT))
        return -1;
    tray_eject(dr.tr);
    dr.play = IDLE;
    return 0;
}

// The driver's note of a disc change rather than a request to the drive,
// so it is not logged: the player asks every tick.
int sim_media_changed(void *handle)
{
    sim_handle *h = static_cast<sim_handle *>(handle);
    sim_drive &dr = drives[h->path];
    sync(dr, h->path);
    return dr.tr.generation != h->generation;
}

int sim_set_volume(void *handle, uint8_t left, uint8_t right)
{
    sim_drive &dr = begin(handle, "volume %d %d", left, right);
    if (is_refused(dr, REQ_VOLUME))
        return -1;
    last_left = left;
    last_right = right;
    return 0;
}

}  // namespace

const drive_ops sim_drive_ops = {
    "sim",
    "sim:",
    sim_open,
    sim_close,
    sim_toc_header,
    sim_toc_entry,
    sim_position,
    sim_play_msf,
    sim_pause,
    sim_resume,
    sim_stop,
    sim_allow,
    sim_eject,
    sim_set_volume,
    sim_media_changed,
};

void sim_use_manual_clock(bool manual)
{
    int64_t before = now_us();
    manual_clock = manual;
    clock_offset_us += before - now_us();
}

void sim_advance_ms(int64_t ms)
{
    if (ms > 0)
        clock_offset_us += ms * 1000;
}

bool sim_refuse(const char *request, int err)
{
    int r = request_named(request ? request : "");
    if (r < 0)
        return false;
    refusals[r] = err;
    return true;
}

void sim_refuse_clear()
{
    for (int &err : refusals)
        err = 0;
}

void sim_force_position(int audio_status, int track)
{
    forced_status = audio_status;
    forced_track = track;
}

void sim_reset_all()
{
    drives.clear();
    sim_refuse_clear();
    forced_status = -1;
    forced_track = 0;
    last_left = last_right = -1;
    manual_clock = false;
    clock_offset_us = 0;
}

int sim_last_volume_left()
{
    return last_left;
}

int sim_last_volume_right()
{
    return last_right;
}
