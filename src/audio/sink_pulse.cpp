// The sound server through libpulse: PulseAudio, or PipeWire through
// pipewire-pulse.  A stream of our own carries what desktop mixers show
// (the program, its icon, the role, the track), and its volume is set on
// the server, so that a change is heard at once however much is queued.
//
// Nothing here waits for the server without a bound: a server that is
// frozen or gone is a failure the engine reports, not a hang.
//
// Three threads: libpulse's loop thread runs the callbacks (on_*) with the
// loop's lock held; the engine's sink thread runs the operations, which
// take the loop's lock themselves (pulse_close runs in the thread that
// closes the device); the player's thread may call pulse_wake.  m guards
// only the wake-up flag, and is taken inside the loop's lock, never
// around it.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include <sys/time.h>

#include "audio/audio.h"

namespace {

constexpr int CONNECT_MS = 2000;  // a server that has not answered by then is not there
const char *const NO_ANSWER = "the sound server does not answer";
constexpr uint32_t FRAME_BYTES = 4;

// A second queued on the server, asked for half a second at a time: the
// writer wakes twice a second.  The server's own buffer (tlength less two
// requests) stays short, and the stream's volume acts there, so a change
// is heard within a few tens of milliseconds.
constexpr uint32_t TLENGTH = SAMPLE_RATE * FRAME_BYTES;
constexpr uint32_t MINREQ = TLENGTH * 48 / 100;
// Playing starts as soon as a sector is in.
constexpr uint32_t PREBUF = SECTOR_FRAMES * FRAME_BYTES;

struct pulse_sink {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *ctx = nullptr;
    pa_stream *stream = nullptr;
    int error = 0;            // libpulse's code of the failure: the sink's thread's own
    bool underflow = false;   // under the loop's lock, till the engine hears of it
    bool dry = false;         // ran dry and nothing written since
    pa_usec_t dry_at = 0, dry_left = 0;  // when, and what was still on its way then
    bool drained = false;     // the server says all of it was heard
    unsigned drain_seq = 0;   // of the last drain asked for
    long written = 0;         // frames since the last flush: the delay before timing is known
    std::mutex m;             // guards woken, with cv
    std::condition_variable cv;
    bool woken = false;
    bool timed_out = false;   // under the loop's lock
    std::string text;         // the last failure told: the sink's thread's own
};

// Any thread; takes m.
void wake_waiter(pulse_sink &s)
{
    std::lock_guard<std::mutex> lock(s.m);
    s.woken = true;
    s.cv.notify_all();
}

// The callbacks: inside the loop thread, the loop locked.
void on_context(pa_context *, void *p)
{
    pulse_sink &s = *static_cast<pulse_sink *>(p);
    pa_threaded_mainloop_signal(s.loop, 0);
    wake_waiter(s);
}

void on_stream(pa_stream *, void *p)
{
    pulse_sink &s = *static_cast<pulse_sink *>(p);
    pa_threaded_mainloop_signal(s.loop, 0);
    wake_waiter(s);
}

void on_write(pa_stream *, size_t, void *p)
{
    wake_waiter(*static_cast<pulse_sink *>(p));
}

void ask_drain(pulse_sink &s);

// Runs inside the loop thread, the loop locked.
void on_underflow(pa_stream *, void *p)
{
    pulse_sink &s = *static_cast<pulse_sink *>(p);
    s.underflow = s.dry = true;
    // What the stream held is on its way through the server's graph still
    // (PipeWire's takes a few tens of milliseconds): it is heard as time goes.
    int negative = 0;
    s.dry_at = pa_rtclock_now();
    if (pa_stream_get_latency(s.stream, &s.dry_left, &negative) < 0 || negative)
        s.dry_left = 0;
    s.drained = false;
    // Asked at once, so that PipeWire's pulse server plays out the last
    // partial period rather than hold it for the next write.
    ask_drain(s);
    wake_waiter(*static_cast<pulse_sink *>(p));
}

// The server tells when the last of it has been played.  Caller must lock
// the loop; the answer comes in the loop thread.
void ask_drain(pulse_sink &s)
{
    struct ask {
        pulse_sink *s;
        unsigned seq;
    };
    ask *a = new ask{&s, ++s.drain_seq};
    pa_operation *o = pa_stream_drain(s.stream, [](pa_stream *, int ok, void *p) {
        ask *a = static_cast<ask *>(p);
        if (ok && a->seq == a->s->drain_seq && a->s->dry) {
            a->s->drained = true;
            wake_waiter(*a->s);
        }
        delete a;
    }, a);
    if (o)
        pa_operation_unref(o);
    else
        delete a;
}

// Inside the loop thread, the loop locked.
void on_timeout(pa_mainloop_api *api, pa_time_event *e, const struct timeval *, void *p)
{
    pulse_sink &s = *static_cast<pulse_sink *>(p);
    s.timed_out = true;
    api->time_free(e);
    pa_threaded_mainloop_signal(s.loop, 0);
}

bool context_good(pa_context *c)
{
    return c && PA_CONTEXT_IS_GOOD(pa_context_get_state(c));
}

bool stream_good(pa_stream *st)
{
    return st && PA_STREAM_IS_GOOD(pa_stream_get_state(st));
}

// The failure's code.  Caller must lock the loop.
int failure(pulse_sink &s)
{
    int e = s.ctx ? pa_context_errno(s.ctx) : 0;
    return e ? e : PA_ERR_CONNECTIONTERMINATED;
}

void pulse_close(void *sink);

// Waits until ready() or a failure, CONNECT_MS at most.  Runs inside the
// sink's thread; caller must lock the loop (let go while waiting).
template <typename Ready>
bool wait_ready(pulse_sink &s, Ready ready)
{
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(s.loop);
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    pa_timeval_add(&tv, CONNECT_MS * 1000ULL);
    s.timed_out = false;
    pa_time_event *t = api->time_new(api, &tv, on_timeout, &s);
    for (;;) {
        int r = ready();
        if (r != 0 || s.timed_out) {
            if (!s.timed_out)
                api->time_free(t);
            return r > 0;
        }
        pa_threaded_mainloop_wait(s.loop);
    }
}

// name: "pulse" or "pulse:SINK" as audioDevice gives it; "" for the default.
// Takes the loop's lock.
void *pulse_open(const std::string &name, std::string *why)
{
    std::string device = name.compare(0, 6, "pulse:") == 0 ? name.substr(6) : "";
    pulse_sink *s = new pulse_sink;
    s->loop = pa_threaded_mainloop_new();
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Murbel");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "murbel");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "murbel");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    s->ctx = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(s->loop), "Murbel", props);
    pa_context_set_state_callback(s->ctx, on_context, s);
    bool ok = false;
    pa_threaded_mainloop_lock(s->loop);
    if (pa_context_connect(s->ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
        pa_threaded_mainloop_start(s->loop) >= 0) {
        ok = wait_ready(*s, [s] {
            pa_context_state_t st = pa_context_get_state(s->ctx);
            return st == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(st) ? 0 : -1;
        });
    }
    if (ok) {
        pa_sample_spec spec{PA_SAMPLE_S16NE, SAMPLE_RATE, 2};
        s->stream = pa_stream_new_with_proplist(s->ctx, "Audio CD", &spec, nullptr, props);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = TLENGTH;
        attr.prebuf = PREBUF;
        attr.minreq = MINREQ;
        attr.fragsize = static_cast<uint32_t>(-1);
        pa_stream_set_state_callback(s->stream, on_stream, s);
        pa_stream_set_write_callback(s->stream, on_write, s);
        pa_stream_set_underflow_callback(s->stream, on_underflow, s);
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING |
                                                    PA_STREAM_AUTO_TIMING_UPDATE);
        ok = pa_stream_connect_playback(s->stream, device.empty() ? nullptr : device.c_str(), &attr,
                                        flags, nullptr, nullptr) >= 0 &&
             wait_ready(*s, [s] {
                 pa_stream_state_t st = pa_stream_get_state(s->stream);
                 return st == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(st) ? 0 : -1;
             });
    }
    pa_proplist_free(props);
    if (!ok)
        *why = s->timed_out ? NO_ANSWER : pa_strerror(failure(*s));
    pa_threaded_mainloop_unlock(s->loop);
    if (!ok) {
        pulse_close(s);
        return nullptr;
    }
    return s;
}

// Takes the loop's lock, and lets it go before stopping the loop, which
// waits for the loop thread.
void pulse_close(void *sink)
{
    pulse_sink *s = static_cast<pulse_sink *>(sink);
    pa_threaded_mainloop_lock(s->loop);
    if (s->stream) {
        pa_stream_set_state_callback(s->stream, nullptr, nullptr);
        pa_stream_set_write_callback(s->stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(s->stream, nullptr, nullptr);
        pa_stream_disconnect(s->stream);
        pa_stream_unref(s->stream);
    }
    pa_context_set_state_callback(s->ctx, nullptr, nullptr);
    pa_context_disconnect(s->ctx);
    pa_context_unref(s->ctx);
    pa_threaded_mainloop_unlock(s->loop);
    pa_threaded_mainloop_stop(s->loop);
    pa_threaded_mainloop_free(s->loop);
    delete s;
}

// A stream gone bad (the server killed or restarted) fails every call.
// Runs inside the sink's thread.  Caller must lock the loop.
bool gone(pulse_sink &s)
{
    if (context_good(s.ctx) && stream_good(s.stream))
        return false;
    s.error = failure(s);
    return true;
}

long pulse_avail(void *sink)
{
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    pa_threaded_mainloop_lock(s.loop);
    long r;
    if (gone(s)) {
        r = -EIO;
    } else if (s.underflow) {
        r = -EPIPE;
    } else {
        size_t n = pa_stream_writable_size(s.stream);
        r = n == static_cast<size_t>(-1) ? -EIO : static_cast<long>(n / FRAME_BYTES);
    }
    pa_threaded_mainloop_unlock(s.loop);
    return r;
}

// Takes m, not the loop's lock: the loop thread must be free to wake it.
void pulse_wait(void *sink, int ms)
{
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    // Room, a failure, the end of a drain and a wake all end it.
    std::unique_lock<std::mutex> lock(s.m);
    s.cv.wait_for(lock, std::chrono::milliseconds(ms), [&s] { return s.woken; });
    s.woken = false;
}

// Any thread (the player's, at a request).
void pulse_wake(void *sink)
{
    wake_waiter(*static_cast<pulse_sink *>(sink));
}

long pulse_write(void *sink, const int16_t *buf, long frames)
{
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    pa_threaded_mainloop_lock(s.loop);
    long r = frames;
    if (gone(s)) {
        r = -EIO;
    } else if (pa_stream_write(s.stream, buf, static_cast<size_t>(frames) * FRAME_BYTES, nullptr, 0,
                               PA_SEEK_RELATIVE) < 0) {
        s.error = failure(s);
        r = -EIO;
    } else {
        s.written += frames;
        s.dry = false;
    }
    pa_threaded_mainloop_unlock(s.loop);
    return r;
}

long pulse_delay(void *sink)
{
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    pa_threaded_mainloop_lock(s.loop);
    long r;
    pa_usec_t usec = 0;
    int negative = 0;
    if (gone(s)) {
        r = -EIO;
    } else if (pa_stream_get_latency(s.stream, &usec, &negative) < 0) {
        r = s.written;  // no timing yet: nothing heard
    } else {
        r = negative ? 0 : static_cast<long>(usec * SAMPLE_RATE / 1000000);
        // Dry, all is heard when the server says so; till then, a frame.
        if (s.dry) {
            pa_usec_t since = pa_rtclock_now() - s.dry_at;
            long left = static_cast<long>((s.dry_left > since ? s.dry_left - since : 0) * SAMPLE_RATE / 1000000);
            r = s.drained ? 0 : std::max(1L, left);
        }
    }
    pa_threaded_mainloop_unlock(s.loop);
    return r;
}

// Operations are not waited for: a frozen server must not hold the caller.
void done(pa_operation *o)
{
    if (o)
        pa_operation_unref(o);
}

// A corked stream holds what it has: resuming loses and repeats nothing.
int pulse_pause(void *sink, bool on)
{
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    pa_threaded_mainloop_lock(s.loop);
    if (!gone(s))
        done(pa_stream_cork(s.stream, on ? 1 : 0, nullptr, nullptr));
    pa_threaded_mainloop_unlock(s.loop);
    return 0;
}

void pulse_drop(void *sink)
{
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    pa_threaded_mainloop_lock(s.loop);
    if (!gone(s))
        done(pa_stream_flush(s.stream, nullptr, nullptr));
    s.underflow = s.dry = s.drained = false;
    s.drain_seq++;
    s.written = 0;
    pa_threaded_mainloop_unlock(s.loop);
}

int pulse_recover(void *sink, int)
{
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    pa_threaded_mainloop_lock(s.loop);
    // Ran dry and nothing written since: the stream starts afresh (a
    // drained stream of PipeWire's pulse server asks for nothing more, and
    // one left to go on from an underrun loses a few milliseconds every
    // few seconds).
    if (s.dry && !gone(s))
        done(pa_stream_flush(s.stream, nullptr, nullptr));
    s.dry = s.drained = false;
    s.drain_seq++;
    s.underflow = false;
    s.written = 0;
    pa_threaded_mainloop_unlock(s.loop);
    return 0;
}

// With the engine's lock held: takes no lock, reading only what the
// sink's thread itself wrote.
const char *pulse_error_text(void *sink, int err)
{
    if (!sink)
        return strerror(err);
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    s.text = s.error ? pa_strerror(s.error) : strerror(err);
    return s.text.c_str();
}

// The player's loudness curve (audio_apply_volume's), as a linear factor
// the server applies; 255 is the server's 100 %, bit for bit.
pa_volume_t server_volume(int v)
{
    if (v >= 255)
        return PA_VOLUME_NORM;
    if (v <= 0)
        return PA_VOLUME_MUTED;
    return pa_sw_volume_from_linear(std::pow(10.0, (v - 255) * 50.0 / 255 / 20));
}

bool pulse_volume(void *sink, int left, int right)
{
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    pa_cvolume cv;
    pa_cvolume_init(&cv);
    cv.channels = 2;
    cv.values[0] = server_volume(left);
    cv.values[1] = server_volume(right);
    pa_threaded_mainloop_lock(s.loop);
    if (!gone(s))
        done(pa_context_set_sink_input_volume(s.ctx, pa_stream_get_index(s.stream), &cv, nullptr,
                                              nullptr));
    pa_threaded_mainloop_unlock(s.loop);
    return true;
}

void pulse_media_name(void *sink, const std::string &name)
{
    pulse_sink &s = *static_cast<pulse_sink *>(sink);
    pa_threaded_mainloop_lock(s.loop);
    if (!gone(s))
        done(pa_stream_set_name(s.stream, name.c_str(), nullptr, nullptr));
    pa_threaded_mainloop_unlock(s.loop);
}

// ---- "default": the server when one answers, else ALSA ----
// Each call runs where the sink's own would, and passes straight on.

struct auto_sink {
    const audio_sink_ops *ops;
    void *impl;
};

auto_sink &as(void *sink)
{
    return *static_cast<auto_sink *>(sink);
}

void *auto_open(const std::string &, std::string *why)
{
    // Asked at every open, not once: a server started later is used.
    std::string pulse_why;
    void *impl = pulse_open("", &pulse_why);
    if (impl)
        return new auto_sink{&pulse_sink_ops, impl};
    // A server that is there but does not answer is a failure; ALSA's
    // default would reach the same server and hang on it.
    if (pulse_why == NO_ANSWER) {
        *why = pulse_why;
        return nullptr;
    }
    impl = alsa_sink_ops.open("default", why);
    if (!impl) {
        *why = pulse_why + "; ALSA: " + *why;
        return nullptr;
    }
    return new auto_sink{&alsa_sink_ops, impl};
}

void auto_close(void *sink)
{
    as(sink).ops->close(as(sink).impl);
    delete &as(sink);
}

long auto_avail(void *sink) { return as(sink).ops->avail(as(sink).impl); }
void auto_wait(void *sink, int ms) { as(sink).ops->wait(as(sink).impl, ms); }
void auto_wake(void *sink) { as(sink).ops->wake(as(sink).impl); }
long auto_write(void *sink, const int16_t *buf, long frames)
{
    return as(sink).ops->write(as(sink).impl, buf, frames);
}
long auto_delay(void *sink) { return as(sink).ops->delay(as(sink).impl); }
int auto_pause(void *sink, bool on) { return as(sink).ops->pause(as(sink).impl, on); }
void auto_drop(void *sink) { as(sink).ops->drop(as(sink).impl); }
int auto_recover(void *sink, int err) { return as(sink).ops->recover(as(sink).impl, err); }
const char *auto_error_text(void *sink, int err)
{
    return sink ? as(sink).ops->error_text(as(sink).impl, err) : strerror(err);
}
bool auto_volume(void *sink, int left, int right)
{
    return as(sink).ops->volume && as(sink).ops->volume(as(sink).impl, left, right);
}
void auto_media_name(void *sink, const std::string &name)
{
    if (as(sink).ops->media_name)
        as(sink).ops->media_name(as(sink).impl, name);
}
long auto_rewind(void *sink, long frames)
{
    return as(sink).ops->rewind ? as(sink).ops->rewind(as(sink).impl, frames) : 0;
}

}  // namespace

const audio_sink_ops pulse_sink_ops = {
    pulse_open,  pulse_close,   pulse_avail,   pulse_wait,       pulse_wake,
    pulse_write, pulse_delay,   pulse_pause,   pulse_drop,       pulse_recover,
    pulse_error_text, pulse_volume, pulse_media_name, nullptr,
};

const audio_sink_ops auto_sink_ops = {
    auto_open,  auto_close,  auto_avail, auto_wait,       auto_wake,
    auto_write, auto_delay,  auto_pause, auto_drop,       auto_recover,
    auto_error_text, auto_volume, auto_media_name, auto_rewind,
};
