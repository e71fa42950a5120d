// Digital playback: a source of audio sectors, a reader thread that fills
// a ring buffer ahead of the play position, and a sink that plays from it.
// The drive backend in src/drive/digital.cpp steers it with requests that
// take the engine's lock for a moment and never touch a device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// 44.1 kHz stereo, 16-bit: a sector is 1/75 s.
constexpr int SECTOR_BYTES = 2352;
constexpr int SECTOR_FRAMES = 588;  // stereo sample frames
constexpr int SAMPLE_RATE = 44100;

// ---- sources ----

// A disc's table of contents, in sectors (LBA).
struct audio_toc {
    int first = 1;
    std::vector<long> starts;  // INDEX 01 of each track
    std::vector<long> gaps;    // where each track's pregap begins (= starts when none)
    std::vector<bool> data;    // data track: never played
    std::vector<bool> pre;     // recorded with pre-emphasis (empty: none is)
    long leadout = 0;

    int last() const { return first + static_cast<int>(starts.size()) - 1; }
};

struct audio_source_ops {
    // Reads count sectors from lba into buf as host-order 16-bit stereo
    // samples (count * 1176 of them).  0, or -1 with errno set.  Runs
    // inside the reader thread only, the engine's lock let go; it may
    // block for as long as the medium takes.
    int (*read)(void *src, long lba, int count, int16_t *buf);
    // Runs on whichever thread lets the engine go last (its reader, its
    // sink's thread or the player's), once no read can come.
    void (*close)(void *src);
};

struct audio_source {
    const audio_source_ops *ops = nullptr;
    void *impl = nullptr;
    audio_toc toc;
};

// A cue sheet as libcue reads it, with what libcue does not keep added:
// each data file's type, which file each INDEX is in, the track numbers.
enum cue_file_type { CUE_BINARY, CUE_MOTOROLA, CUE_SNDFILE };

struct cue_track {
    std::string file;  // as the sheet names it: the file of INDEX 01
    cue_file_type type = CUE_BINARY;
    // The file of INDEX 00 when the gap is the end of the file before
    // (rips with the gaps appended); empty: the same file as INDEX 01.
    std::string gap_file;
    cue_file_type gap_type = CUE_BINARY;
    bool data = false;
    bool pre = false;  // FLAGS PRE: recorded with pre-emphasis
    int sector_bytes = SECTOR_BYTES;  // of this track's sectors in its file
    long index0 = -1;                 // in its file, sectors; -1: none
    long index1 = 0;                  // -1: none (a data track not ripped)
    long silence = 0;   // PREGAP: sectors of silence not in any file
    long postgap = 0;   // POSTGAP: likewise, after the track
    std::string title, performer;  // CD-Text
};

struct cue_sheet {
    int first = 1;  // the number of the first track
    std::vector<cue_track> tracks;
    std::string title, performer;  // CD-Text, when the sheet has them
};

// A reason fit for one line of a report: control characters (a file name
// may hold a line end) become '?'.
std::string audio_one_line(std::string text);

// Parses a cue sheet's text.  Returns "" and fills sheet, or a one-line
// reason.  No side effects beyond memory, so a fuzzer can call it alone.
// On failure the tracks are empty; the CD-Text libcue read is kept.
std::string cue_parse(const std::string &text, cue_sheet *sheet);

// cue_parse in a short-lived child process, so that libcue's messages
// and any memory fault of it stay out of the player; the last sheet's
// result is kept, so that the audio and the names read it once.  Any
// thread.
std::string cue_read(const std::string &text, cue_sheet *sheet);

// A sheet's text, read without waiting on anything that is not a plain
// file.  "" or a one-line reason ("a directory", "not a regular file"...).
std::string cue_load_text(const std::string &path, std::string *text);

// Opens the image a cue sheet describes, its data files named relative to
// the sheet.  On failure returns false with a one-line reason.
// The files used in place of those named (another extension, another
// letter case) are told in notes, one line each.
bool image_source_open(const std::string &cue_path, audio_source *src, std::string *why,
                       std::vector<std::string> *notes = nullptr);

// A drive read digitally (libcdio-paranoia).  The toc is the caller's
// (read through the platform's requests); the drive is opened on the
// first read, in the reader thread, as spin-up may take long.
bool cdda_source_open(const std::string &device, const audio_toc &toc, bool paranoia, int speed,
                      audio_source *src, std::string *why);

// ---- sinks ----

// Every operation runs inside the engine's sink thread with the engine's
// lock let go, except where said: a sink is used by one thread at a time
// and needs no lock of its own but for what wake touches.
struct audio_sink_ops {
    // Returns the sink, or null with a one-line reason.
    void *(*open)(const std::string &name, std::string *why);
    // Runs in a thread of its own (or the sink's thread at the engine's
    // end): the engine no longer has the sink.
    void (*close)(void *sink);
    // Frames that can be written now without waiting; -EPIPE after an
    // underrun (call recover), another negative errno on failure.
    long (*avail)(void *sink);
    // Waits up to ms for room, or until woken.
    void (*wait)(void *sink, int ms);
    // Any thread, the engine's lock held (the player's, at a request):
    // ends a wait at once.
    void (*wake)(void *sink);
    // Writes up to frames frames; returns those written or a negative errno.
    long (*write)(void *sink, const int16_t *buf, long frames);
    // Frames written but not yet heard.
    long (*delay)(void *sink);
    // 0: paused (or resumed) exactly; 1: the device plays out what it
    // holds and stops; -1: it cannot pause (what it holds is dropped).
    int (*pause)(void *sink, bool on);
    void (*drop)(void *sink);           // forget what is queued
    int (*recover)(void *sink, int err);
    // Describes the last failure for the one-line report.  Runs inside
    // the sink's thread with the engine's lock held: it must not wait.
    const char *(*error_text)(void *sink, int err);
    // Optional.  Sets the volume (0 to 255, as audio_apply_volume) on the
    // device itself, heard at once; false: the samples carry it.
    bool (*volume)(void *sink, int left, int right);
    // Optional: the name a desktop mixer shows for what is playing.
    void (*media_name)(void *sink, const std::string &name);
    // Optional: takes back up to frames of the newest frames written and
    // not yet heard, so that they can be written again; returns how many.
    long (*rewind)(void *sink, long frames);
};

extern const audio_sink_ops alsa_sink_ops;
extern const audio_sink_ops wav_sink_ops;
// The sound server through libpulse (PulseAudio, or PipeWire's
// pipewire-pulse); "" is the server's default output.
extern const audio_sink_ops pulse_sink_ops;
// "default": the sound server when one answers, else ALSA's "default".
extern const audio_sink_ops auto_sink_ops;

// The sink for an audioDevice name: "wav:FILE", "pulse" or "pulse:SINK",
// "alsa:NAME" or any other ALSA PCM name, and "default".
const audio_sink_ops *audio_sink_for(std::string *name);

// Tests: waits until every thread the engines left behind (to close a
// device, or stuck in one) has ended; false after ms.
bool audio_wait_threads(int ms);

// The clock that paces the WAV sink.  Tests switch it to manual and move
// it on; the sink's thread wakes at every step.  Any thread; each takes
// the clock's own lock, which may be taken with the engine's held, never
// the other way round.
void audio_clock_use_manual(bool manual);
void audio_clock_advance_ms(int64_t ms);
int64_t audio_clock_now_us();
// Counts the manual clock's steps: a sink that saw one epoch waits for the next.
uint64_t audio_clock_epoch();

// ---- the engine ----

struct audio_engine;

constexpr int AUDIO_GRACE_MS = 3000;
// A device that takes nothing for this long while playing (a frozen sound
// server) has failed.
constexpr int AUDIO_STUCK_MS = 3000;

enum audio_play_state { AUDIO_IDLE, AUDIO_PLAYING, AUDIO_PAUSED, AUDIO_COMPLETED, AUDIO_ERROR };

struct audio_position {
    audio_play_state state;
    long frame;  // absolute, in sample frames from LBA 0
};

// The requests below run on the player's thread (the event loop; a
// test's own) and take the engine's lock for a moment: none may be called
// with it held.

// Takes the source; starts the reader and sink threads.  The device is
// opened by the sink's thread at the first play, and closed a few seconds
// after the last (AUDIO_GRACE_MS), so that Stop and Play is instant.
// Never blocks on a device.
audio_engine *audio_engine_start(audio_source src, const audio_sink_ops *sink,
                                 const std::string &sink_name);
// Never waits for a thread stuck in a read or in the device: it is left
// to finish on its own.
void audio_engine_stop(audio_engine *e);

// Plays sectors [from, to) (LBA): at once, from the first frame read.
// -1 with errno EINVAL for a bad range.  A device that cannot be had, or
// fails while playing, gives one line and AUDIO_ERROR, told until the next
// play or halt; the next play tries the device again.
int audio_engine_play(audio_engine *e, long from, long to);
// Readable (an eventfd) after a play of any engine has ended in such a
// fault; -1 before the first engine.  WATCH is given it once it exists:
// the event loop watches it.
int audio_fault_fd();
void audio_watch_faults(void (*watch)(int fd));
int audio_engine_pause(audio_engine *e);   // -1 (EIO) unless playing or paused
int audio_engine_resume(audio_engine *e);  // likewise
void audio_engine_halt(audio_engine *e);
void audio_engine_volume(audio_engine *e, int left, int right);  // 0 to 255
// The name a desktop mixer shows for the stream (a track's name).
void audio_engine_media_name(audio_engine *e, const std::string &name);
// Whether the device is open now (it is only while needed).
bool audio_engine_device_open(audio_engine *e);
// The position as played; a completed play is told once, then idle.
audio_position audio_engine_position(audio_engine *e);
long audio_engine_underruns(audio_engine *e);

// Tests: wait until both threads have nothing to do until the clock moves
// or a request comes (bounded: false after ms without that).  Looks under
// the lock, and sleeps between looks without it.
bool audio_engine_settle(audio_engine *e, int ms);

// Scales stereo frames in place: 255 leaves them as they are, 0 silences
// them, the steps between are even in loudness (decibels linear in the value).
// Any thread, no lock: the sink's thread runs it with the lock let go.
void audio_apply_volume(int16_t *frames, long count, int left, int right);

// Tests and the acceptance harness: the reader stalls for ms before
// reading the sector at lba (once).  Also from the environment:
// MURBEL_AUDIO_STALL="LBA:MS".  Any thread (atomics, no lock).
void audio_inject_stall(long lba, int ms);
