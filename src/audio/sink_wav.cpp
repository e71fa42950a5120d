// A sink that writes what it plays into a WAV file, paced by a clock as a
// sound card is paced by its crystal: a half-second buffer drains at
// 44.1 kHz, and only what has drained reaches the file, so the file holds
// exactly what a listener would have heard.  The clock is real time, or
// one that tests move on.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "audio/audio.h"

namespace {

std::mutex clock_mutex;
std::condition_variable clock_moved;
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
    FILE *file = nullptr;
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

void write_header(wav_sink &s)
{
    unsigned char h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                           16, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 16, 0,
                           'd', 'a', 't', 'a', 0, 0, 0, 0};
    uint32_t data = static_cast<uint32_t>(std::min<long long>(s.data_bytes, 0xffffffffLL - 36));
    put32(h + 4, 36 + data);
    put32(h + 24, SAMPLE_RATE);
    put32(h + 28, SAMPLE_RATE * 4);
    put32(h + 40, data);
    fseek(s.file, 0, SEEK_SET);
    fwrite(h, 1, sizeof h, s.file);
    fseek(s.file, 0, SEEK_END);
}

// What the clock says has been heard since the last look goes to the file.
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
    if (take > 0) {
        fwrite(le.data(), 1, le.size(), s.file);
        s.data_bytes += static_cast<long long>(le.size());
        write_header(s);
        fflush(s.file);
    }
    s.queue.erase(s.queue.begin(), s.queue.begin() + take * 2);
    s.run_frames += take;
    if (due > queued) {  // ran dry: the device stops, as a card does
        s.running = false;
        s.xrun = true;
    }
}

void *wav_open(const std::string &name, std::string *why)
{
    FILE *f = fopen(name.c_str(), "wb");
    if (!f) {
        *why = strerror(errno);
        return nullptr;
    }
    wav_sink *s = new wav_sink;
    s->file = f;
    write_header(*s);
    fflush(f);
    return s;
}

void wav_close(void *sink)
{
    wav_sink *s = static_cast<wav_sink *>(sink);
    play_out(*s);
    write_header(*s);
    fclose(s->file);
    delete s;
}

long wav_avail(void *sink)
{
    wav_sink &s = *static_cast<wav_sink *>(sink);
    s.epoch_seen = audio_clock_epoch();
    play_out(s);
    if (s.xrun)
        return -EPIPE;
    return BUFFER_FRAMES - static_cast<long>(s.queue.size() / 2);
}

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

const char *wav_error_text(void *, int err)
{
    return strerror(err);
}

}  // namespace

const audio_sink_ops wav_sink_ops = {
    wav_open, wav_close, wav_avail, wav_wait, wav_wake, wav_write,
    wav_delay, wav_pause, wav_drop, wav_recover, wav_error_text,
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
    return &alsa_sink_ops;
}
