// The engine: a reader thread fills a ring ahead of the play position, the
// sink's thread plays from it.  One mutex guards everything shared; nobody
// holds it across a read of the medium or a call to the sound device, so
// a request from the player waits for it a moment at most.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "app/app.h"
#include "audio/audio.h"

namespace {

constexpr long RING_FRAMES = 150L * SECTOR_FRAMES;  // two seconds ahead
constexpr long CHUNK_FRAMES = RING_FRAMES / 2;      // one read of the medium
constexpr long START_FRAMES = 25L * SECTOR_FRAMES;
constexpr long WRITE_FRAMES = 50L * SECTOR_FRAMES;  // one write to the device, at most
// Sinks are woken by requests; this only bounds a wait that went wrong.
// Longer than a device's period, or the wait for one is cut short.
constexpr int WAIT_MS = 1000;
static_assert(AUDIO_LEAD_MS < WAIT_MS, "a lead is waited for in one wait");

std::atomic<long> stall_lba{-1};
std::atomic<int> stall_ms{0};

}  // namespace

struct engine_state {
    std::mutex m;
    std::condition_variable cv;
    audio_source src;
    const audio_sink_ops *ops = nullptr;
    std::string sink_name;
    void *sink = nullptr;  // the sink's thread alone uses it

    enum { SINK_OPENING, SINK_OPEN, SINK_FAILED } sink_state = SINK_OPENING;
    bool reopen = false;
    std::string reported;  // the last failure told, so it is told once

    audio_play_state state = AUDIO_IDLE;
    uint64_t seq = 0;  // a new play or a stop: reads under way are stale
    long read_frame = 0, end_frame = 0;
    std::vector<int16_t> ring = std::vector<int16_t>(RING_FRAMES * 2);
    long ring_head = 0, ring_count = 0;  // in frames
    long written_frame = 0, played_frame = 0;
    int64_t played_at_us = 0;
    bool need_drop = false;
    // A play is sent to the device only once it has lived AUDIO_LEAD_MS:
    // a play stopped at once (as the player's reset does) is never heard.
    bool fresh = false;
    int64_t play_at_us = 0;
    // The play's first frame, and when it was first written (-1: not yet).
    long start_frame = 0;
    int64_t first_write_us = -1;
    bool device_paused = false;
    int left = 255, right = 255;
    long underruns = 0;
    bool quit = false;

    // For tests: who is waiting, and what they had seen.
    uint64_t wake_seq = 0;
    bool reader_idle = false, sink_idle = false, sink_on_device = false;
    uint64_t reader_seen = 0, sink_seen = 0, sink_epoch = 0;

    ~engine_state()
    {
        if (src.ops && src.ops->close)
            src.ops->close(src.impl);
    }

    void poke()
    {
        wake_seq++;
        cv.notify_all();
    }
};

struct audio_engine {
    std::shared_ptr<engine_state> s;
    std::thread sink_thread;
};

namespace {

void report_once(engine_state &s, const std::string &line)
{
    if (line == s.reported)
        return;
    s.reported = line;
    fprintf(stderr, "murbel: %s\n", line.c_str());
    fflush(stderr);
}

void clear_ring(engine_state &s)
{
    s.ring_head = s.ring_count = 0;
}

// The ring is copied in at most two pieces, where it wraps.
void push_ring(engine_state &s, const int16_t *frames, long n)
{
    long at = (s.ring_head + s.ring_count) % RING_FRAMES;
    long first = std::min(n, RING_FRAMES - at);
    std::copy(frames, frames + 2 * first, s.ring.begin() + 2 * at);
    std::copy(frames + 2 * first, frames + 2 * n, s.ring.begin());
    s.ring_count += n;
}

void pop_ring(engine_state &s, int16_t *frames, long n)
{
    long first = std::min(n, RING_FRAMES - s.ring_head);
    auto ring = s.ring.begin();
    std::copy(ring + 2 * s.ring_head, ring + 2 * (s.ring_head + first), frames);
    std::copy(ring, ring + 2 * (n - first), frames + 2 * first);
    s.ring_head = (s.ring_head + n) % RING_FRAMES;
    s.ring_count -= n;
}

bool reader_has_work(const engine_state &s)
{
    if (s.state != AUDIO_PLAYING && s.state != AUDIO_PAUSED)
        return false;
    // Refilled in big helpings once it is half empty: the reader (and
    // the medium) wake a few times a minute, not at every write.
    long left = s.end_frame - s.read_frame;
    return left > 0 && RING_FRAMES - s.ring_count >= std::min(left, CHUNK_FRAMES);
}

// Waits out an injected stall; only the end of the engine cuts it short.
void maybe_stall(engine_state &s, std::unique_lock<std::mutex> &lock, long lba0, long lba1)
{
    long at = stall_lba.load();
    if (at < lba0 || at >= lba1)
        return;
    int ms = stall_ms.exchange(0);
    stall_lba = -1;
    if (ms > 0)
        s.cv.wait_for(lock, std::chrono::milliseconds(ms), [&s] { return s.quit; });
}

void reader_main(std::shared_ptr<engine_state> sp)
{
    engine_state &s = *sp;
    std::vector<int16_t> buf;
    std::unique_lock<std::mutex> lock(s.m);
    while (!s.quit) {
        if (!reader_has_work(s)) {
            s.reader_idle = true;
            s.reader_seen = s.wake_seq;
            s.cv.wait(lock);
            s.reader_idle = false;
            continue;
        }
        uint64_t seq = s.seq;
        long from = s.read_frame;
        // A new play starts from a short read, to be heard soon.
        long chunk = s.ring_count == 0 ? START_FRAMES : CHUNK_FRAMES;
        long n = std::min({chunk, s.end_frame - from, RING_FRAMES - s.ring_count});
        long lba0 = from / SECTOR_FRAMES;
        long lba1 = (from + n + SECTOR_FRAMES - 1) / SECTOR_FRAMES;
        maybe_stall(s, lock, lba0, lba1);
        if (s.quit)
            break;
        buf.resize(static_cast<size_t>(lba1 - lba0) * SECTOR_FRAMES * 2);
        lock.unlock();
        int r = s.src.ops->read(s.src.impl, lba0, static_cast<int>(lba1 - lba0), buf.data());
        int err = errno;
        lock.lock();
        if (seq != s.seq || s.read_frame != from)
            continue;  // a new play came while reading
        if (r < 0) {
            report_once(s, std::string("reading the disc: ") + strerror(err));
            s.state = AUDIO_ERROR;
            s.poke();
            continue;
        }
        push_ring(s, buf.data() + (from - lba0 * SECTOR_FRAMES) * 2, n);
        s.read_frame += n;
        s.poke();
    }
}

// The sink's thread calls the device only with the lock let go.
template <typename Fn>
auto unlocked(std::unique_lock<std::mutex> &lock, Fn fn)
{
    lock.unlock();
    auto r = fn();
    lock.lock();
    return r;
}

void note_underrun(engine_state &s, std::unique_lock<std::mutex> &lock, long err)
{
    debug_log(1, "audio: underrun %ld\n", ++s.underruns);
    unlocked(lock, [&] { return s.ops->recover(s.sink, static_cast<int>(err)); });
}

void device_failed(engine_state &s, long err)
{
    report_once(s, "audio device \"" + s.sink_name + "\": " +
                       s.ops->error_text(s.sink, static_cast<int>(-err)));
    s.state = AUDIO_ERROR;
    s.poke();
}

void open_sink(engine_state &s, std::unique_lock<std::mutex> &lock)
{
    std::string why;
    void *sink = unlocked(lock, [&] { return s.ops->open(s.sink_name, &why); });
    s.reopen = false;
    if (sink) {
        s.sink = sink;
        s.sink_state = engine_state::SINK_OPEN;
        s.reported.clear();
    } else {
        s.sink_state = engine_state::SINK_FAILED;
        report_once(s, "audio device \"" + s.sink_name + "\": " + why);
        if (s.state == AUDIO_PLAYING || s.state == AUDIO_PAUSED)
            s.state = AUDIO_ERROR;
    }
    s.poke();
}

// Waits for room in the device (or the clock), marked for tests as idle.
void wait_device(engine_state &s, std::unique_lock<std::mutex> &lock, int ms = WAIT_MS)
{
    s.sink_idle = s.sink_on_device = true;
    s.sink_seen = s.wake_seq;
    unlocked(lock, [&] {
        s.ops->wait(s.sink, ms);
        return 0;
    });
    s.sink_idle = s.sink_on_device = false;
}

void wait_request(engine_state &s, std::unique_lock<std::mutex> &lock)
{
    s.sink_idle = true;
    s.sink_on_device = false;
    s.sink_seen = s.wake_seq;
    s.cv.wait(lock);
    s.sink_idle = false;
}

// Nothing of a play is heard before its first write: a device just
// started may tell of less delay than it has (a sound server's does), and
// the position is never put further on than the time since that write.
long not_after(const engine_state &s)
{
    if (s.first_write_us < 0)
        return s.start_frame;
    int64_t us = std::max<int64_t>(0, audio_clock_now_us() - s.first_write_us);
    return s.start_frame + static_cast<long>(us * SAMPLE_RATE / 1000000);
}

void set_played(engine_state &s, long delay)
{
    long now = std::min(s.written_frame - std::max(0L, delay), not_after(s));
    s.played_frame = std::max(s.played_frame, now);
    s.played_at_us = audio_clock_now_us();
}

// Writes one helping from the ring to the device.
void feed(engine_state &s, std::unique_lock<std::mutex> &lock, std::vector<int16_t> &buf)
{
    long avail = unlocked(lock, [&] {
        s.sink_epoch = audio_clock_epoch();
        return s.ops->avail(s.sink);
    });
    if (s.need_drop || s.state != AUDIO_PLAYING)
        return;
    if (avail == -EPIPE) {
        note_underrun(s, lock, avail);
        return;
    }
    if (avail < 0)
        return device_failed(s, avail);
    if (s.fresh) {
        int64_t left_us = s.play_at_us + AUDIO_LEAD_MS * 1000LL - audio_clock_now_us();
        if (left_us > 0) {
            wait_device(s, lock, static_cast<int>((left_us + 999) / 1000));
            return;
        }
    }
    if (avail == 0 || s.ring_count == 0) {
        if (avail == 0)
            wait_device(s, lock);
        return;
    }
    long n = std::min({avail, s.ring_count, WRITE_FRAMES});
    buf.resize(static_cast<size_t>(n) * 2);
    pop_ring(s, buf.data(), n);
    s.written_frame += n;
    // The reader is woken only when there is room for a whole read.
    if (reader_has_work(s))
        s.poke();
    uint64_t seq = s.seq;
    int left = s.left, right = s.right;
    unlocked(lock, [&] {
        audio_apply_volume(buf.data(), n, left, right);
        return 0;
    });
    // A stop or a new play that came meanwhile: what was taken is not
    // theirs to hear.  Checked last thing before the write.
    if (seq != s.seq)
        return;
    if (s.fresh) {
        s.fresh = false;
        s.first_write_us = audio_clock_now_us();
    }
    long err = 0, xruns = 0;
    long delay = unlocked(lock, [&] {
        long done = 0;
        while (done < n) {
            long w = s.ops->write(s.sink, buf.data() + 2 * done, n - done);
            if (w == -EPIPE) {
                xruns++;
                s.ops->recover(s.sink, static_cast<int>(w));
            } else if (w == -EAGAIN) {
                s.ops->wait(s.sink, WAIT_MS);
            } else if (w < 0) {
                err = w;
                return 0L;
            } else {
                done += w;
            }
        }
        return s.ops->delay(s.sink);
    });
    for (; xruns > 0; xruns--)
        debug_log(1, "audio: underrun %ld\n", ++s.underruns);
    if (err < 0)
        return device_failed(s, err);
    if (seq == s.seq && !s.need_drop)
        set_played(s, delay);
}

// Everything is written: the play completes when the device has played it.
void drain(engine_state &s, std::unique_lock<std::mutex> &lock)
{
    uint64_t seq = s.seq;
    long delay = unlocked(lock, [&] {
        s.sink_epoch = audio_clock_epoch();
        return s.ops->delay(s.sink);
    });
    if (seq != s.seq || s.need_drop || s.state != AUDIO_PLAYING)
        return;
    set_played(s, delay);
    if (delay > 0) {
        wait_device(s, lock);
        return;
    }
    s.played_frame = s.end_frame;
    s.state = AUDIO_COMPLETED;
    s.poke();
}

// Pauses the device.  One that plays out what it holds goes on later from
// what was written; one that cannot pause forgets it, and the play goes on
// from what was heard.
void pause_device(engine_state &s, std::unique_lock<std::mutex> &lock)
{
    long delay = 0;
    int r = unlocked(lock, [&] {
        int r = s.ops->pause(s.sink, true);
        delay = s.ops->delay(s.sink);
        if (r < 0)
            s.ops->drop(s.sink);
        return r;
    });
    s.device_paused = true;
    if (r > 0) {
        s.played_frame = s.written_frame;
    } else {
        set_played(s, delay);
    }
    if (r < 0) {
        s.seq++;
        clear_ring(s);
        s.read_frame = s.written_frame = s.played_frame;
    }
    s.poke();
}

void sink_main(engine_state &s)
{
    std::vector<int16_t> buf;
    std::unique_lock<std::mutex> lock(s.m);
    open_sink(s, lock);
    while (!s.quit) {
        if (s.reopen && s.sink_state == engine_state::SINK_FAILED) {
            open_sink(s, lock);
            continue;
        }
        if (s.sink_state != engine_state::SINK_OPEN) {
            wait_request(s, lock);
            continue;
        }
        if (s.need_drop) {
            s.need_drop = false;
            unlocked(lock, [&] {
                s.ops->drop(s.sink);
                return 0;
            });
            s.device_paused = false;
            s.poke();
            continue;
        }
        if (s.state == AUDIO_PAUSED && !s.device_paused) {
            pause_device(s, lock);
            continue;
        }
        if (s.state == AUDIO_PLAYING && s.device_paused) {
            s.device_paused = false;
            unlocked(lock, [&] { return s.ops->pause(s.sink, false); });
            s.played_at_us = audio_clock_now_us();
            s.poke();
            continue;
        }
        if (s.state == AUDIO_PLAYING && s.ring_count > 0)
            feed(s, lock, buf);
        else if (s.state == AUDIO_PLAYING && s.read_frame >= s.end_frame)
            drain(s, lock);
        else
            wait_request(s, lock);
    }
    if (s.sink)
        unlocked(lock, [&] {
            s.ops->close(s.sink);
            return 0;
        });
    s.sink = nullptr;
}

void wake_sink(engine_state &s)
{
    s.sink_idle = s.sink_on_device = false;
    if (s.sink && s.ops->wake)
        s.ops->wake(s.sink);
}

// The position as heard now: what the device had played when last asked,
// and the time since, while it plays.
long heard(const engine_state &s)
{
    if (s.state != AUDIO_PLAYING || s.device_paused || s.played_frame >= s.written_frame)
        return s.played_frame;
    int64_t us = audio_clock_now_us() - s.played_at_us;
    long more = static_cast<long>(std::max<int64_t>(0, us) * SAMPLE_RATE / 1000000);
    return std::max(s.played_frame, std::min({s.played_frame + more, s.written_frame, not_after(s)}));
}

}  // namespace

audio_engine *audio_engine_start(audio_source src, const audio_sink_ops *sink,
                                 const std::string &sink_name)
{
    if (const char *env = getenv("MURBEL_AUDIO_STALL")) {
        long lba;
        int ms;
        if (sscanf(env, "%ld:%d", &lba, &ms) == 2)
            audio_inject_stall(lba, ms);
    }
    auto s = std::make_shared<engine_state>();
    s->src = src;
    s->ops = sink;
    s->sink_name = sink_name;
    audio_engine *e = new audio_engine{s, {}};
    std::thread(reader_main, s).detach();
    e->sink_thread = std::thread(sink_main, std::ref(*s));
    return e;
}

void audio_engine_stop(audio_engine *e)
{
    if (!e)
        return;
    {
        std::lock_guard<std::mutex> lock(e->s->m);
        e->s->quit = true;
        e->s->poke();
        wake_sink(*e->s);
    }
    e->sink_thread.join();
    delete e;  // the reader, if still reading, keeps the state alive
}

int audio_engine_play(audio_engine *e, long from, long to)
{
    engine_state &s = *e->s;
    std::lock_guard<std::mutex> lock(s.m);
    if (from < 0 || to < from) {
        errno = EINVAL;
        return -1;
    }
    if (s.sink_state == engine_state::SINK_FAILED) {
        s.reopen = true;  // the device may be there by the next try
        s.poke();
        errno = EIO;
        return -1;
    }
    s.seq++;
    clear_ring(s);
    s.read_frame = s.written_frame = s.played_frame = from * SECTOR_FRAMES;
    s.end_frame = to * SECTOR_FRAMES;
    s.played_at_us = s.play_at_us = audio_clock_now_us();
    s.start_frame = s.played_frame;
    s.first_write_us = -1;
    s.fresh = true;
    s.state = AUDIO_PLAYING;
    s.need_drop = true;
    s.poke();
    wake_sink(s);
    return 0;
}

static int pause_or_resume(audio_engine *e, audio_play_state to)
{
    engine_state &s = *e->s;
    std::lock_guard<std::mutex> lock(s.m);
    if (s.state != AUDIO_PLAYING && s.state != AUDIO_PAUSED) {
        errno = EIO;
        return -1;
    }
    if (s.state != to) {
        s.played_frame = heard(s);
        s.played_at_us = audio_clock_now_us();
        s.state = to;
    }
    s.poke();
    wake_sink(s);
    return 0;
}

int audio_engine_pause(audio_engine *e)
{
    return pause_or_resume(e, AUDIO_PAUSED);
}

int audio_engine_resume(audio_engine *e)
{
    return pause_or_resume(e, AUDIO_PLAYING);
}

void audio_engine_halt(audio_engine *e)
{
    engine_state &s = *e->s;
    std::lock_guard<std::mutex> lock(s.m);
    s.played_frame = heard(s);
    s.seq++;
    clear_ring(s);
    s.read_frame = s.end_frame;
    s.state = AUDIO_IDLE;
    s.need_drop = true;
    s.poke();
    wake_sink(s);
}

void audio_engine_volume(audio_engine *e, int left, int right)
{
    std::lock_guard<std::mutex> lock(e->s->m);
    e->s->left = std::clamp(left, 0, 255);
    e->s->right = std::clamp(right, 0, 255);
}

audio_position audio_engine_position(audio_engine *e)
{
    engine_state &s = *e->s;
    std::lock_guard<std::mutex> lock(s.m);
    audio_position pos{s.state, heard(s)};
    // Told once, as drives do.
    if (s.state == AUDIO_COMPLETED || s.state == AUDIO_ERROR)
        s.state = AUDIO_IDLE;
    return pos;
}

long audio_engine_underruns(audio_engine *e)
{
    std::lock_guard<std::mutex> lock(e->s->m);
    return e->s->underruns;
}

bool audio_engine_settle(audio_engine *e, int ms)
{
    engine_state &s = *e->s;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> lock(s.m);
            bool reader = s.reader_idle && s.reader_seen == s.wake_seq;
            // Waiting for the device, the sink has work only when the clock
            // moves; requests wake it and clear the mark.
            bool sink = s.sink_idle && (s.sink_on_device ? s.sink_epoch == audio_clock_epoch()
                                                         : s.sink_seen == s.wake_seq);
            if (reader && sink)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

void audio_apply_volume(int16_t *frames, long count, int left, int right)
{
    if (left >= 255 && right >= 255)
        return;  // bit for bit as read
    // Fifty decibels from the top step to the lowest: even steps of loudness.
    static const auto gains = [] {
        std::vector<int32_t> g(256);
        for (int v = 1; v < 255; v++)
            g[v] = static_cast<int32_t>(std::lround(65536.0 * std::pow(10.0, (v - 255) * 50.0 / 255 / 20)));
        g[255] = 65536;
        return g;
    }();
    int32_t gl = gains[std::clamp(left, 0, 255)], gr = gains[std::clamp(right, 0, 255)];
    for (long i = 0; i < count; i++) {
        frames[2 * i] = static_cast<int16_t>((frames[2 * i] * gl + 32768) >> 16);
        frames[2 * i + 1] = static_cast<int16_t>((frames[2 * i + 1] * gr + 32768) >> 16);
    }
}

void audio_inject_stall(long lba, int ms)
{
    stall_ms = ms;
    stall_lba = lba;
}
