// The engine: a reader thread fills a ring ahead of the play position, the
// sink's thread plays from it.  One mutex guards everything shared; nobody
// holds it across a read of the medium or a call to the sound device, so
// a request from the player waits for it a moment at most.
//
// Three threads meet here: the player's (the event loop, which makes the
// requests at the bottom of the file), the reader and the sink's thread.
// Each function below says which runs it and whether the lock must be held.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <mutex>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

#include "app/app.h"
#include "audio/audio.h"

namespace {

// Two seconds ahead of what was written, and the last second written
// kept, to be written again at another volume.
constexpr long KEEP_FRAMES = 75L * SECTOR_FRAMES;
constexpr long RING_FRAMES = 150L * SECTOR_FRAMES + KEEP_FRAMES;
constexpr long CHUNK_FRAMES = 75L * SECTOR_FRAMES;  // one read of the medium
constexpr long START_FRAMES = 25L * SECTOR_FRAMES;
constexpr long WRITE_FRAMES = 50L * SECTOR_FRAMES;  // one write to the device, at most
// Less room than this is left to grow while the ring has more: a device
// that frees room frame by frame (a file paced by the clock, a plugin)
// would otherwise be fed a frame a call.
constexpr long MIN_WRITE_FRAMES = 2L * SECTOR_FRAMES;
// Sinks are woken by requests; this only bounds a wait that went wrong.
// Longer than a device's period, or the wait for one is cut short.
constexpr int WAIT_MS = 1000;
// Underruns that come with nothing written between them: the device
// takes nothing any more (a sound server gone).
constexpr int XRUN_STREAK = 4;

std::atomic<long> stall_lba{-1};
std::atomic<int> stall_ms{0};

// The sink threads and the threads that close devices, which nobody
// joins: one stuck in a device is left behind.  Tests wait for them.
// Never destroyed: such a thread may outlive the process's exit handlers.
struct thread_count {
    std::mutex m;
    std::condition_variable cv;
    int live = 0;
};

thread_count &threads()
{
    static thread_count *t = new thread_count;
    return *t;
}

// Any thread; these two take the count's own lock.
void thread_begins()
{
    std::lock_guard<std::mutex> lock(threads().m);
    threads().live++;
}

void thread_ends()
{
    std::lock_guard<std::mutex> lock(threads().m);
    threads().live--;
    threads().cv.notify_all();
}

int64_t steady_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// Every field is under m, but for those set before the threads start
// (src, ops, sink_name), and sink and device_volume, which the sink's
// thread alone sets (with m held) and so reads without it.
struct engine_state {
    std::mutex m;
    std::condition_variable cv;
    audio_source src;
    const audio_sink_ops *ops = nullptr;
    std::string sink_name;
    void *sink = nullptr;  // also woken through by requests, under m
    bool device_open = false;
    int64_t idle_since_us = -1;  // when the device last had nothing to play
    std::string reported;  // what last failed, told once until it works

    audio_play_state state = AUDIO_IDLE;
    uint64_t seq = 0;  // a new play or a stop: reads under way are stale
    long read_frame = 0, end_frame = 0;
    std::vector<int16_t> ring = std::vector<int16_t>(RING_FRAMES * 2);
    long ring_head = 0, ring_count = 0;  // in frames
    long ring_kept = 0;  // written frames still in the ring, before ring_head
    long written_frame = 0, played_frame = 0;
    int64_t played_at_us = 0;
    bool need_drop = false;
    // The play's first frame, and when it was first written (-1: not yet).
    long start_frame = 0;
    int64_t first_write_us = -1;
    bool device_paused = false;
    int left = 255, right = 255;
    bool volume_sent = false;    // the device has left and right
    bool device_volume = false;  // the device applies them, not the samples
    std::string media_name;
    bool name_sent = false;
    long underruns = 0;
    int xrun_streak = 0;
    int64_t underrun_told_ms = -1000000;
    int64_t progress_us = 0;  // when the device last took or played something
    bool quit = false;

    // For tests: who is waiting, and what they had seen.
    uint64_t wake_seq = 0;
    bool reader_idle = false, sink_idle = false, sink_on_device = false;
    uint64_t reader_seen = 0, sink_seen = 0, sink_epoch = 0;

    // Runs on whichever thread lets the state go last.
    ~engine_state()
    {
        if (src.ops && src.ops->close)
            src.ops->close(src.impl);
    }

    // Caller must lock m.
    void poke()
    {
        wake_seq++;
        cv.notify_all();
    }
};

struct audio_engine {
    std::shared_ptr<engine_state> s;
};

namespace {

// A play that ends in a fault is told to the event loop too: there the
// player stops, rather than show Playing with nothing heard.  The reader's
// and the sink's threads; the lock is not needed.
void tell_play_failed()
{
    uint64_t one = 1;
    int fd = audio_fault_fd();
    if (fd >= 0 && write(fd, &one, sizeof one) < 0) {
        // Full only after 2^64 - 1 faults nobody read: one is pending anyway.
    }
}

// Once until the device has worked again: the player's own stop after a
// fault plays and stops at once, and that play meeting the device still
// broken (maybe for another reason) is no news.  The reader's and the
// sink's threads.  Caller must lock the mutex.
void report_once(engine_state &s, const std::string &subject, const std::string &reason)
{
    if (subject == s.reported)
        return;
    s.reported = subject;
    fprintf(stderr, "murbel: %s: %s\n", subject.c_str(), reason.c_str());
    fflush(stderr);
}

// The ring's functions: any of the three threads; caller must lock the mutex.
void clear_ring(engine_state &s)
{
    s.ring_head = s.ring_count = s.ring_kept = 0;
}

long ring_room(const engine_state &s)
{
    return RING_FRAMES - s.ring_count - s.ring_kept;
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
    s.ring_kept = std::min(KEEP_FRAMES, s.ring_kept + n);
}

// Takes back the newest n frames written, to be written again.
void unpop_ring(engine_state &s, long n)
{
    s.ring_head = (s.ring_head + RING_FRAMES - n) % RING_FRAMES;
    s.ring_count += n;
    s.ring_kept -= n;
}

// Reader or sink's thread.  Caller must lock the mutex.
bool reader_has_work(const engine_state &s)
{
    if (s.state != AUDIO_PLAYING && s.state != AUDIO_PAUSED)
        return false;
    // Refilled in big helpings once it is half empty: the reader (and
    // the medium) wake a few times a minute, not at every write.
    long left = s.end_frame - s.read_frame;
    return left > 0 && ring_room(s) >= std::min(left, CHUNK_FRAMES);
}

// Waits out an injected stall; only the end of the engine cuts it short.
// Runs inside the reader thread, which holds the lock (let go while waiting).
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

// The reader thread.  Holds the lock but while it reads the medium.
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
        long n = std::min({chunk, s.end_frame - from, ring_room(s)});
        long lba0 = from / SECTOR_FRAMES;
        long lba1 = (from + n + SECTOR_FRAMES - 1) / SECTOR_FRAMES;
        maybe_stall(s, lock, lba0, lba1);
        if (s.quit)
            break;
        buf.resize(static_cast<size_t>(lba1 - lba0) * SECTOR_FRAMES * 2);
        lock.unlock();
        int r = s.src.ops->read(s.src.impl, lba0, static_cast<int>(lba1 - lba0), buf.data());
        int err = errno;
        // A filter of the track's own (one that keeps state from frame to
        // frame) belongs here, on buf: each frame passes once and in order,
        // even when a change of volume writes again what is queued.
        lock.lock();
        if (seq != s.seq || s.read_frame != from)
            continue;  // a new play came while reading
        if (r < 0) {
            report_once(s, "reading the disc", strerror(err));
            s.state = AUDIO_ERROR;
            tell_play_failed();
            s.poke();
            continue;
        }
        push_ring(s, buf.data() + (from - lba0 * SECTOR_FRAMES) * 2, n);
        s.read_frame += n;
        s.poke();
    }
}

// The sink's thread calls the device only with the lock let go.  Caller
// holds the lock; fn runs without it.
template <typename Fn>
auto unlocked(std::unique_lock<std::mutex> &lock, Fn fn)
{
    lock.unlock();
    auto r = fn();
    lock.lock();
    return r;
}

// A device is closed in a thread of its own: one stuck in the device (a
// frozen sound server, a driver) is left behind, and the engine goes on.
// Runs inside the sink's thread.  Caller must lock the mutex.
void close_device(engine_state &s)
{
    if (!s.sink)
        return;
    const audio_sink_ops *ops = s.ops;
    void *sink = s.sink;
    s.sink = nullptr;
    s.device_open = false;
    s.device_paused = false;
    s.idle_since_us = -1;
    thread_begins();
    std::thread([ops, sink] {
        ops->close(sink);
        thread_ends();
    }).detach();
}

// Runs inside the sink's thread.  Caller must lock the mutex.
void device_failed(engine_state &s, const std::string &why)
{
    report_once(s, "audio device \"" + s.sink_name + "\"", why);
    // Told until the next play or stop: the player stays on the track
    // rather than run through the disc unheard.
    if (s.state == AUDIO_PLAYING || s.state == AUDIO_PAUSED) {
        s.state = AUDIO_ERROR;
        tell_play_failed();
    }
    s.seq++;
    close_device(s);
    s.poke();
}

void device_failed(engine_state &s, long err)
{
    device_failed(s, s.ops->error_text(s.sink, static_cast<int>(-err)));
}

// Counted each time, traced at most once a second: a device that keeps
// running dry must not flood the trace.  Runs inside the sink's thread.
// Caller must lock the mutex.
void count_underrun(engine_state &s)
{
    s.underruns++;
    int64_t now = steady_ms();
    if (now - s.underrun_told_ms >= 1000) {
        s.underrun_told_ms = now;
        debug_log(1, "audio: underrun %ld\n", s.underruns);
    }
}

// False when the device has failed.  Runs inside the sink's thread, which
// holds the lock (let go while the device recovers).
bool note_underrun(engine_state &s, std::unique_lock<std::mutex> &lock, long err)
{
    count_underrun(s);
    int r = unlocked(lock, [&] { return s.ops->recover(s.sink, static_cast<int>(err)); });
    if (r < 0) {
        device_failed(s, r);
        return false;
    }
    if (++s.xrun_streak >= XRUN_STREAK) {
        device_failed(s, "it stopped taking sound");
        return false;
    }
    return true;
}

// Runs inside the sink's thread, which holds the lock (let go while the
// device opens).
void open_sink(engine_state &s, std::unique_lock<std::mutex> &lock)
{
    std::string why, name = s.sink_name;
    void *sink = unlocked(lock, [&] { return s.ops->open(name, &why); });
    if (s.quit) {
        s.sink = sink;
        return;
    }
    if (sink) {
        s.sink = sink;
        s.device_open = true;
        s.device_paused = false;
        s.volume_sent = s.name_sent = false;
        s.xrun_streak = 0;
        s.progress_us = audio_clock_now_us();
    } else {
        device_failed(s, why);
    }
    s.poke();
}

// Waits for room in the device (or the clock), marked for tests as idle.
// Runs inside the sink's thread, which holds the lock (let go while waiting).
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

// Likewise, for a request.
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
// Any thread.  Caller must lock the mutex.
long not_after(const engine_state &s)
{
    if (s.first_write_us < 0)
        return s.start_frame;
    int64_t us = std::max<int64_t>(0, audio_clock_now_us() - s.first_write_us);
    return s.start_frame + static_cast<long>(us * SAMPLE_RATE / 1000000);
}

// Runs inside the sink's thread.  Caller must lock the mutex.
void set_played(engine_state &s, long delay)
{
    long now = std::min(s.written_frame - std::max(0L, delay), not_after(s));
    s.played_frame = std::max(s.played_frame, now);
    s.played_at_us = audio_clock_now_us();
    // Heard: the device works, and a failure is new again.
    if (s.played_frame > s.start_frame)
        s.reported.clear();
}

// A device that has taken nothing for AUDIO_STUCK_MS while there was
// sound for it has failed (a frozen server takes and plays nothing).
// Runs inside the sink's thread.  Caller must lock the mutex.
bool stuck(engine_state &s)
{
    if (audio_clock_now_us() - s.progress_us < AUDIO_STUCK_MS * 1000LL)
        return false;
    device_failed(s, "it takes no sound");
    return true;
}

// The samples on their way to the device, from frame on: the volume, when
// the device does not apply it.  (They may pass again after a rewind.)
// Runs inside the sink's thread with the lock let go: it reads only
// device_volume, which that thread alone writes.
void process(engine_state &s, int16_t *frames, long n, long frame, int left, int right)
{
    (void)frame;
    if (!s.device_volume)
        audio_apply_volume(frames, n, left, right);
}

// Writes one helping from the ring to the device.  Runs inside the sink's
// thread, which holds the lock (let go around each call of the device).
void feed(engine_state &s, std::unique_lock<std::mutex> &lock, std::vector<int16_t> &buf)
{
    s.sink_epoch = audio_clock_epoch();
    long avail = unlocked(lock, [&] { return s.ops->avail(s.sink); });
    if (s.need_drop || s.state != AUDIO_PLAYING || !s.sink)
        return;
    if (avail == -EPIPE) {
        note_underrun(s, lock, avail);
        return;
    }
    if (avail < 0)
        return device_failed(s, avail);
    if (avail == 0 || (avail < MIN_WRITE_FRAMES && s.ring_count >= MIN_WRITE_FRAMES)) {
        if (!stuck(s))
            wait_device(s, lock);
        return;
    }
    s.progress_us = audio_clock_now_us();
    long n = std::min({avail, s.ring_count, WRITE_FRAMES});
    buf.resize(static_cast<size_t>(n) * 2);
    pop_ring(s, buf.data(), n);
    s.written_frame += n;
    // The reader is woken only when there is room for a whole read.
    if (reader_has_work(s))
        s.poke();
    uint64_t seq = s.seq;
    int left = s.left, right = s.right;
    long frame = s.written_frame - n;
    unlocked(lock, [&] {
        process(s, buf.data(), n, frame, left, right);
        return 0;
    });
    // A stop or a new play that came meanwhile (the player's reset plays
    // and stops in one go): what was taken is not theirs to hear.  Checked
    // last thing before the write, so such a play is cancelled, never heard.
    if (seq != s.seq)
        return;
    if (s.first_write_us < 0)
        s.first_write_us = audio_clock_now_us();
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
        count_underrun(s);
    if (err < 0)
        return device_failed(s, err);
    s.xrun_streak = 0;
    s.progress_us = audio_clock_now_us();
    if (seq == s.seq && !s.need_drop)
        set_played(s, delay);
}

// Everything is written: the play completes when the device has played it.
// Runs inside the sink's thread, which holds the lock (let go around the device).
void drain(engine_state &s, std::unique_lock<std::mutex> &lock)
{
    uint64_t seq = s.seq;
    s.sink_epoch = audio_clock_epoch();
    long delay = unlocked(lock, [&] { return s.ops->delay(s.sink); });
    if (seq != s.seq || s.need_drop || s.state != AUDIO_PLAYING || !s.sink)
        return;
    if (delay < 0)
        return device_failed(s, delay);
    long before = s.played_frame;
    set_played(s, delay);
    if (s.played_frame > before)
        s.progress_us = audio_clock_now_us();
    if (delay > 0) {
        if (!stuck(s))
            wait_device(s, lock);
        return;
    }
    s.played_frame = s.end_frame;
    s.state = AUDIO_COMPLETED;
    s.reported.clear();
    s.poke();
}

// Pauses the device.  One that plays out what it holds goes on later from
// what was written; one that cannot pause forgets it, and the play goes on
// from what was heard.  Runs inside the sink's thread, which holds the lock
// (let go around the device).
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

// Sends what the device applies itself: the volume, the media name.
// Runs inside the sink's thread, which holds the lock (let go around the device).
void update_device(engine_state &s, std::unique_lock<std::mutex> &lock)
{
    if (!s.volume_sent) {
        s.volume_sent = true;
        int left = s.left, right = s.right;
        s.device_volume = s.ops->volume &&
                          unlocked(lock, [&] { return s.ops->volume(s.sink, left, right); });
        // On the samples: what is queued and not yet heard is taken back
        // and written again at the new volume, so that the change is heard
        // at once and the queue stays deep.
        if (!s.device_volume && s.ops->rewind && s.state == AUDIO_PLAYING && s.ring_kept > 0) {
            uint64_t seq = s.seq;
            long want = s.ring_kept;
            long r = unlocked(lock, [&] { return s.ops->rewind(s.sink, want); });
            if (seq != s.seq || s.need_drop)
                return;  // a new play drops it all anyway
            r = std::clamp(r, 0L, s.ring_kept);
            unpop_ring(s, r);
            s.written_frame -= r;
        }
    }
    if (!s.name_sent && s.sink) {
        s.name_sent = true;
        std::string name = s.media_name;
        if (s.ops->media_name && !name.empty())
            unlocked(lock, [&] {
                s.ops->media_name(s.sink, name);
                return 0;
            });
    }
}

// The sink's thread.  Holds the lock but while it calls the device.
void sink_main(std::shared_ptr<engine_state> sp)
{
    engine_state &s = *sp;
    std::vector<int16_t> buf;
    std::unique_lock<std::mutex> lock(s.m);
    while (!s.quit) {
        bool active = s.state == AUDIO_PLAYING || s.state == AUDIO_PAUSED;
        if (!s.sink) {
            // The device only while it is needed: opened for a play.
            if (active)
                open_sink(s, lock);
            else
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
            s.xrun_streak = 0;
            s.progress_us = audio_clock_now_us();
            s.poke();
            continue;
        }
        if (!active) {
            // Closed a moment after the last play, so that the sound
            // server's sink can suspend and other programs have the card.
            // Asked of the device first, as a wait on it follows a look.
            s.sink_epoch = audio_clock_epoch();
            unlocked(lock, [&] { return s.ops->delay(s.sink); });
            if (s.quit || s.need_drop || s.state == AUDIO_PLAYING || s.state == AUDIO_PAUSED)
                continue;
            int64_t now = audio_clock_now_us();
            if (s.idle_since_us < 0)
                s.idle_since_us = now;
            int64_t left_us = s.idle_since_us + AUDIO_GRACE_MS * 1000LL - now;
            if (left_us <= 0) {
                close_device(s);
                s.poke();
            } else {
                wait_device(s, lock, static_cast<int>(std::min<int64_t>((left_us + 999) / 1000, WAIT_MS)));
            }
            continue;
        }
        s.idle_since_us = -1;
        if (!s.volume_sent || !s.name_sent) {
            update_device(s, lock);
            continue;
        }
        if (s.state == AUDIO_PAUSED && !s.device_paused) {
            pause_device(s, lock);
            continue;
        }
        if (s.state == AUDIO_PLAYING && s.device_paused) {
            s.device_paused = false;
            unlocked(lock, [&] { return s.ops->pause(s.sink, false); });
            s.played_at_us = s.progress_us = audio_clock_now_us();
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
    // No request comes after quit, so no wake can reach the sink closing.
    if (s.sink)
        unlocked(lock, [&] {
            s.ops->close(s.sink);
            return 0;
        });
    s.sink = nullptr;
    lock.unlock();
    sp.reset();
    thread_ends();
}

// The player's thread, at a request.  Caller must lock the mutex.
void wake_sink(engine_state &s)
{
    s.sink_idle = s.sink_on_device = false;
    if (s.sink && s.ops->wake)
        s.ops->wake(s.sink);
}

// The position as heard now: what the device had played when last asked,
// and the time since, while it plays.  The player's thread.  Caller must
// lock the mutex.
long heard(const engine_state &s)
{
    if (s.state != AUDIO_PLAYING || s.device_paused || s.played_frame >= s.written_frame)
        return s.played_frame;
    int64_t us = audio_clock_now_us() - s.played_at_us;
    long more = static_cast<long>(std::max<int64_t>(0, us) * SAMPLE_RATE / 1000000);
    return std::max(s.played_frame, std::min({s.played_frame + more, s.written_frame, not_after(s)}));
}

}  // namespace

namespace {
int fault_fd = -1;  // made by the first engine: a player on a drive has none
void (*fault_watch)(int fd) = nullptr;
}  // namespace

// The player's thread, as is audio_watch_faults; the fd is made before
// any engine's threads start, and only read by them.
int audio_fault_fd()
{
    return fault_fd;
}

void audio_watch_faults(void (*watch)(int fd))
{
    fault_watch = watch;
    if (fault_fd >= 0 && watch)
        watch(fault_fd);
}

// The requests: the player's thread; each takes the lock itself (audio.h).

audio_engine *audio_engine_start(audio_source src, const audio_sink_ops *sink,
                                 const std::string &sink_name)
{
    if (fault_fd < 0) {
        fault_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fault_fd >= 0 && fault_watch)
            fault_watch(fault_fd);
    }
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
    audio_engine *e = new audio_engine{s};
    // A reader that quits a pipe, or a file-size limit, is a write error
    // to report, not the end of the process.
    static std::once_flag signals;
    std::call_once(signals, [] {
        signal(SIGPIPE, SIG_IGN);
        signal(SIGXFSZ, SIG_IGN);
    });
    std::thread(reader_main, s).detach();
    thread_begins();
    std::thread(sink_main, s).detach();
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
    delete e;  // the threads, if still busy, keep the state alive
}

// A test's thread; takes the count's lock.
bool audio_wait_threads(int ms)
{
    thread_count &t = threads();
    std::unique_lock<std::mutex> lock(t.m);
    return t.cv.wait_for(lock, std::chrono::milliseconds(ms), [&t] { return t.live == 0; });
}

int audio_engine_play(audio_engine *e, long from, long to)
{
    engine_state &s = *e->s;
    std::lock_guard<std::mutex> lock(s.m);
    if (from < 0 || to < from) {
        errno = EINVAL;
        return -1;
    }
    s.seq++;
    clear_ring(s);
    s.read_frame = s.written_frame = s.played_frame = from * SECTOR_FRAMES;
    s.end_frame = to * SECTOR_FRAMES;
    s.played_at_us = audio_clock_now_us();
    s.start_frame = s.played_frame;
    s.first_write_us = -1;
    s.state = AUDIO_PLAYING;
    s.need_drop = s.sink != nullptr;
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
    s.need_drop = s.sink != nullptr;
    s.poke();
    wake_sink(s);
}

void audio_engine_volume(audio_engine *e, int left, int right)
{
    engine_state &s = *e->s;
    std::lock_guard<std::mutex> lock(s.m);
    left = std::clamp(left, 0, 255);
    right = std::clamp(right, 0, 255);
    if (left == s.left && right == s.right)
        return;
    s.left = left;
    s.right = right;
    s.volume_sent = false;
    s.poke();
    wake_sink(s);
}

void audio_engine_media_name(audio_engine *e, const std::string &name)
{
    engine_state &s = *e->s;
    std::lock_guard<std::mutex> lock(s.m);
    if (name == s.media_name)
        return;
    s.media_name = name;
    s.name_sent = false;
    s.poke();
    wake_sink(s);
}

bool audio_engine_device_open(audio_engine *e)
{
    std::lock_guard<std::mutex> lock(e->s->m);
    return e->s->device_open;
}

audio_position audio_engine_position(audio_engine *e)
{
    engine_state &s = *e->s;
    std::lock_guard<std::mutex> lock(s.m);
    audio_position pos{s.state, heard(s)};
    // Told once, as drives do; an error stays until the next request.
    if (s.state == AUDIO_COMPLETED)
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
