// A sink that writes what it plays into a WAV file, paced by a clock as a
// sound card is paced by its crystal: a half-second buffer drains at
// 44.1 kHz, and only what has drained reaches the file, so the file holds
// exactly what a listener would have heard.  The clock is real time, or
// one that tests move on.
//
// The target may be a pipe or a FIFO: it is opened without waiting for a
// reader (none is a failure), and the header, whose sizes are known only
// at the end, is written again only into a regular file.  Every write is
// checked: a full disc, a file-size limit or a reader gone fails the play.
//
// The header is written here, not by libsndfile: it refuses to write WAV
// into a pipe, and through I/O of our own it gives a stream's data size as
// the frames written so far (none, at the start), never the largest.  One
// writer for files and streams alike is this one.
//
// The operations run inside the engine's sink thread (wav_close in the
// thread that closes the device) with the engine's lock let go; the file
// and the queue are that thread's alone.  wav_wake and the clock's
// functions run on any thread and take clock_mutex, which also guards each
// sink's woken flag.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "audio/audio.h"

namespace {

// Never destroyed: a sink's thread left behind may outlive the process's
// exit handlers.
std::mutex &clock_mutex = *new std::mutex;
std::condition_variable &clock_moved = *new std::condition_variable;
bool manual = false;
int64_t manual_us = 0;
uint64_t epoch = 0;

int64_t real_us()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

constexpr long BUFFER_FRAMES = SAMPLE_RATE / 2;
// Real time: the sink's thread wakes when this much room is free.
constexpr long PERIOD_FRAMES = BUFFER_FRAMES / 8;

struct wav_sink {
    int fd = -1;
    bool regular = false;  // the header can be rewritten
    int error = 0;         // the first write that failed
    long long data_bytes = 0;
    std::vector<int16_t> queue;  // frames written, not yet played
    bool running = false, paused = false, xrun = false;
    int64_t run_start_us = 0;
    long long run_frames = 0;  // played since run_start_us
    uint64_t epoch_seen = 0;
    bool woken = false;  // under clock_mutex
};

void put32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// All of it, or the error.
int write_all(int fd, const unsigned char *p, size_t n, off_t at = -1)
{
    while (n > 0) {
        ssize_t w = at >= 0 ? pwrite(fd, p, n, at) : write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return errno;
        if (w == 0)
            return ENOSPC;
        p += w;
        n -= static_cast<size_t>(w);
        if (at >= 0)
            at += w;
    }
    return 0;
}

void write_header(wav_sink &s)
{
    unsigned char h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                           16, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 16, 0,
                           'd', 'a', 't', 'a', 0, 0, 0, 0};
    // A stream's length is unknown: the largest, as streaming programs write.
    long long bytes = s.regular ? s.data_bytes : 0xffffffffLL;
    uint32_t data = static_cast<uint32_t>(std::min<long long>(bytes, 0xffffffffLL - 36));
    put32(h + 4, 36 + data);
    put32(h + 24, SAMPLE_RATE);
    put32(h + 28, SAMPLE_RATE * 4);
    put32(h + 40, data);
    if (!s.error)
        s.error = write_all(s.fd, h, sizeof h, s.regular ? 0 : -1);
}

// What the clock says has been heard since the last look goes to the file.
// Takes the clock's lock (to read it) but holds none while writing.
void play_out(wav_sink &s)
{
    if (!s.running || s.paused)
        return;
    int64_t now = audio_clock_now_us();
    long long due = (now - s.run_start_us) * SAMPLE_RATE / 1000000 - s.run_frames;
    if (due <= 0)
        return;
    long queued = static_cast<long>(s.queue.size() / 2);
    long take = static_cast<long>(std::min<long long>(due, queued));
    std::vector<unsigned char> le(static_cast<size_t>(take) * 4);
    for (long i = 0; i < take * 2; i++) {
        uint16_t v = static_cast<uint16_t>(s.queue[i]);
        le[2 * i] = static_cast<unsigned char>(v);
        le[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    if (take > 0 && !s.error) {
        s.error = write_all(s.fd, le.data(), le.size(), s.regular ? 44 + s.data_bytes : -1);
        s.data_bytes += static_cast<long long>(le.size());
        if (s.regular)
            write_header(s);
    }
    s.queue.erase(s.queue.begin(), s.queue.begin() + take * 2);
    s.run_frames += take;
    if (due > queued) {  // ran dry: the device stops, as a card does
        s.running = false;
        s.xrun = true;
    }
}

// The failure as the engine takes it: a broken pipe is no underrun.
long failed(const wav_sink &s)
{
    return -(s.error == EPIPE ? ESHUTDOWN : s.error);
}

void *wav_open(const std::string &name, std::string *why)
{
    // A FIFO with no reader fails at once (ENXIO) rather than wait for one.
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) < 0) {
        *why = strerror(errno);
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    wav_sink *s = new wav_sink;
    s->fd = fd;
    s->regular = S_ISREG(st.st_mode);
    // Written paced by the clock: a pipe's reader that lags holds the
    // sink's thread, not the player.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // The device is closed while nothing plays: a file opened again in the
    // same run goes on after what it holds, so the recording stays whole.
    static std::mutex &opened_m = *new std::mutex;
    static auto &opened = *new std::set<std::pair<dev_t, ino_t>>;
    bool again;
    {
        std::lock_guard<std::mutex> lock(opened_m);
        again = !opened.insert({st.st_dev, st.st_ino}).second;
    }
    if (s->regular && again && st.st_size >= 44)
        s->data_bytes = (st.st_size - 44) / 4 * 4;
    else if (s->regular && ftruncate(fd, 0) < 0)
        s->error = errno;
    write_header(*s);
    if (s->error) {
        *why = strerror(s->error);
        close(fd);
        delete s;
        return nullptr;
    }
    return s;
}

void wav_close(void *sink)
{
    wav_sink *s = static_cast<wav_sink *>(sink);
    play_out(*s);
    close(s->fd);
    delete s;
}

long wav_avail(void *sink)
{
    wav_sink &s = *static_cast<wav_sink *>(sink);
    s.epoch_seen = audio_clock_epoch();
    play_out(s);
    if (s.error)
        return failed(s);
    if (s.xrun)
        return -EPIPE;
    return BUFFER_FRAMES - static_cast<long>(s.queue.size() / 2);
}

// Waits on clock_mutex, which the clock and wav_wake take to wake it.
void wav_wait(void *sink, int ms)
{
    wav_sink &s = *static_cast<wav_sink *>(sink);
    std::unique_lock<std::mutex> lock(clock_mutex);
    if (manual) {
        clock_moved.wait(lock, [&s] { return s.woken || epoch != s.epoch_seen; });
    } else {
        // Until a period is free, or ms at most.
        long room = BUFFER_FRAMES - static_cast<long>(s.queue.size() / 2);
        long need = std::max(0L, PERIOD_FRAMES - room);
        int64_t us = std::min<int64_t>(ms * 1000LL, need * 1000000LL / SAMPLE_RATE + 1000);
        if (s.queue.empty())  // nothing to play out: the caller's own wait
            us = ms * 1000LL;
        clock_moved.wait_for(lock, std::chrono::microseconds(us), [&s] { return s.woken; });
    }
    s.woken = false;
}

// Any thread (the player's, at a request).
void wav_wake(void *sink)
{
    std::lock_guard<std::mutex> lock(clock_mutex);
    static_cast<wav_sink *>(sink)->woken = true;
    clock_moved.notify_all();
}

long wav_write(void *sink, const int16_t *buf, long frames)
{
    wav_sink &s = *static_cast<wav_sink *>(sink);
    play_out(s);
    if (s.error)
        return failed(s);
    long n = std::min(frames, BUFFER_FRAMES - static_cast<long>(s.queue.size() / 2));
    if (n <= 0)
        return -EAGAIN;
    s.queue.insert(s.queue.end(), buf, buf + n * 2);
    if (!s.running && !s.paused) {
        s.running = true;
        s.run_start_us = audio_clock_now_us();
        s.run_frames = 0;
    }
    return n;
}

long wav_delay(void *sink)
{
    wav_sink &s = *static_cast<wav_sink *>(sink);
    s.epoch_seen = audio_clock_epoch();
    play_out(s);
    if (s.error)
        return failed(s);
    return static_cast<long>(s.queue.size() / 2);
}

int wav_pause(void *sink, bool on)
{
    wav_sink &s = *static_cast<wav_sink *>(sink);
    play_out(s);
    if (s.paused == on)
        return 0;
    s.paused = on;
    if (!on && !s.queue.empty()) {
        s.running = true;
        s.run_start_us = audio_clock_now_us();
        s.run_frames = 0;
    }
    return 0;
}

void wav_drop(void *sink)
{
    wav_sink &s = *static_cast<wav_sink *>(sink);
    play_out(s);
    s.queue.clear();
    s.running = s.paused = s.xrun = false;
}

int wav_recover(void *sink, int)
{
    static_cast<wav_sink *>(sink)->xrun = false;
    return 0;
}

// What is queued is not yet heard: any of it can be taken back.
long wav_rewind(void *sink, long frames)
{
    wav_sink &s = *static_cast<wav_sink *>(sink);
    play_out(s);
    long n = std::min(frames, static_cast<long>(s.queue.size() / 2));
    s.queue.resize(s.queue.size() - static_cast<size_t>(n) * 2);
    return n;
}

const char *wav_error_text(void *sink, int err)
{
    wav_sink *s = static_cast<wav_sink *>(sink);
    return strerror(s && s->error ? s->error : err);
}

}  // namespace

const audio_sink_ops wav_sink_ops = {
    wav_open, wav_close, wav_avail, wav_wait, wav_wake, wav_write,
    wav_delay, wav_pause, wav_drop, wav_recover, wav_error_text,
    nullptr, nullptr, wav_rewind,
};

void audio_clock_use_manual(bool on)
{
    std::lock_guard<std::mutex> lock(clock_mutex);
    if (on && !manual)
        manual_us = real_us();
    manual = on;
    epoch++;
    clock_moved.notify_all();
}

void audio_clock_advance_ms(int64_t ms)
{
    std::lock_guard<std::mutex> lock(clock_mutex);
    if (ms > 0)
        manual_us += ms * 1000;
    epoch++;
    clock_moved.notify_all();
}

int64_t audio_clock_now_us()
{
    std::lock_guard<std::mutex> lock(clock_mutex);
    return manual ? manual_us : real_us();
}

uint64_t audio_clock_epoch()
{
    std::lock_guard<std::mutex> lock(clock_mutex);
    return epoch;
}

const audio_sink_ops *audio_sink_for(std::string *name)
{
    if (name->compare(0, 4, "wav:") == 0) {
        name->erase(0, 4);
        return &wav_sink_ops;
    }
    if (*name == "default")
        return &auto_sink_ops;
    if (*name == "pulse" || name->compare(0, 6, "pulse:") == 0)
        return &pulse_sink_ops;
    if (name->compare(0, 5, "alsa:") == 0)
        name->erase(0, 5);
    return &alsa_sink_ops;
}
