// The sound card, through ALSA: "default" reaches PipeWire or PulseAudio
// through ALSA's plugins on today's desktops.  The PCM is non-blocking;
// the sink's thread sleeps until there is room for a good helping.
//
// All but alsa_wake run inside the engine's sink thread (alsa_close in
// the thread that closes the device) with the engine's lock let go; the
// PCM is never used by two threads at once, so it needs no lock.
// alsa_error_text runs with the engine's lock held.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "audio/audio.h"

namespace {

struct alsa_sink {
    snd_pcm_t *pcm = nullptr;
    bool can_pause = false;  // holds what it has, as a sound server's cork does
    long avail_min = 1;      // room worth a write
    int wake_fd = -1;        // ends a wait at once
};

snd_pcm_t *pcm_of(void *sink)
{
    return static_cast<alsa_sink *>(sink)->pcm;
}

// ALSA's library chatters on standard error about what it cannot do; the
// failure is reported once, by the caller, in its own words.
void quiet(const char *, int, const char *, int, const char *, ...) {}

// Periods of a third of a second: the writer wakes three times a second,
// and a sound server's client thread about twice as often.  Three of
// them, the fewest PulseAudio's plugin takes.  A pause holds them (a sound
// server corks the stream) and a new play drops them, so the deep queue
// slows neither; a change of volume, made on the samples, rewrites what
// is queued where the device can take it back (a card can; ALSA's plugin
// for a sound server cannot, which is why "default" goes to the server
// through libpulse).
constexpr unsigned BUFFER_US = 1000000, PERIOD_US = 333333;

int set_hw(snd_pcm_t *pcm)
{
    snd_pcm_hw_params_t *hw = nullptr;
    int err = snd_pcm_hw_params_malloc(&hw);
    if (err < 0)
        return err;
    unsigned rate = SAMPLE_RATE, buffer = BUFFER_US, period = PERIOD_US;
    int dir = 0;
    if ((err = snd_pcm_hw_params_any(pcm, hw)) >= 0 &&
        (err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1)) >= 0 &&
        (err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) >= 0 &&
        (err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16)) >= 0 &&
        (err = snd_pcm_hw_params_set_channels(pcm, hw, 2)) >= 0 &&
        (err = snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, &dir)) >= 0 &&
        (err = snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer, &dir)) >= 0 &&
        (err = snd_pcm_hw_params_set_period_time_near(pcm, hw, &period, &dir)) >= 0)
        err = snd_pcm_hw_params(pcm, hw);
    snd_pcm_hw_params_free(hw);
    if (err >= 0 && rate != SAMPLE_RATE)
        err = -EINVAL;
    return err;
}

void *alsa_open(const std::string &name, std::string *why)
{
    snd_lib_error_set_handler(quiet);
    snd_pcm_t *pcm = nullptr;
    int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    // A device that will not take those sizes gets ALSA's own choice.
    if (err == 0 && set_hw(pcm) < 0)
        err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 2,
                                 SAMPLE_RATE, 1, BUFFER_US);
    snd_pcm_uframes_t buffer = 0, period = 0;
    if (err == 0)
        err = snd_pcm_get_params(pcm, &buffer, &period);
    // A sound server asks for a period at a time, and wants it soon: the
    // writer waits for a period of room, not more.
    snd_pcm_uframes_t avail_min = period ? period : buffer / 2;
    snd_pcm_sw_params_t *sw = nullptr;
    if (err == 0)
        err = snd_pcm_sw_params_malloc(&sw);
    // Start as soon as a period is in, so that a short range is heard too.
    if (err == 0 && (err = snd_pcm_sw_params_current(pcm, sw)) == 0 &&
        (err = snd_pcm_sw_params_set_start_threshold(pcm, sw, period)) == 0 &&
        (err = snd_pcm_sw_params_set_avail_min(pcm, sw, avail_min)) == 0)
        err = snd_pcm_sw_params(pcm, sw);
    if (sw)
        snd_pcm_sw_params_free(sw);
    if (err < 0) {
        *why = snd_strerror(err);
        if (pcm)
            snd_pcm_close(pcm);
        return nullptr;
    }
    alsa_sink *s = new alsa_sink{pcm, false, static_cast<long>(avail_min),
                                 eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};
    snd_pcm_hw_params_t *hw = nullptr;
    if (snd_pcm_hw_params_malloc(&hw) == 0) {
        if (snd_pcm_hw_params_current(pcm, hw) == 0)
            s->can_pause = snd_pcm_hw_params_can_pause(hw);
        snd_pcm_hw_params_free(hw);
    }
    return s;
}

void alsa_close(void *sink)
{
    snd_pcm_drop(pcm_of(sink));
    snd_pcm_close(pcm_of(sink));
    if (static_cast<alsa_sink *>(sink)->wake_fd >= 0)
        close(static_cast<alsa_sink *>(sink)->wake_fd);
    delete static_cast<alsa_sink *>(sink);
}

// Less room than a write's worth counts as none: a sound server frees it
// a few milliseconds at a time, and a write for each would wake the
// thread a hundred times a second.
long alsa_avail(void *sink)
{
    alsa_sink &s = *static_cast<alsa_sink *>(sink);
    snd_pcm_sframes_t a = snd_pcm_avail_update(s.pcm);
    if (a >= 0 && a < s.avail_min && snd_pcm_state(s.pcm) == SND_PCM_STATE_RUNNING)
        return 0;
    return a;
}

// snd_pcm_wait is no help through a sound server's plugin, which says
// "writable" at any room at all: the wait is worked out from the room
// missing, or from what is left to play out when the caller waits for that.
void alsa_wait(void *sink, int ms)
{
    alsa_sink &s = *static_cast<alsa_sink *>(sink);
    snd_pcm_sframes_t a = snd_pcm_avail_update(s.pcm);
    if (a < 0)
        return;
    long frames = s.avail_min - a;
    // A server tells of room in steps of its own: not less than 20 ms for
    // room (two periods are still queued), and 10 ms more than the room
    // missing, so that one wake finds the server's grant already in; a few
    // ms for the last to play out.
    long least = 20, late = 10;
    if (frames <= 0) {
        snd_pcm_sframes_t d = 0;
        frames = snd_pcm_delay(s.pcm, &d) == 0 ? d : 0;
        least = 2;
        late = 0;
        if (frames <= 0)  // nothing to play out: the caller's own wait
            frames = ms * SAMPLE_RATE / 1000L;
    }
    long wait = std::clamp(frames * 1000L / SAMPLE_RATE + late, std::min(least, static_cast<long>(ms)),
                           static_cast<long>(ms));
    pollfd p{s.wake_fd, POLLIN, 0};
    if (poll(&p, s.wake_fd >= 0 ? 1 : 0, static_cast<int>(wait)) > 0) {
        uint64_t n;
        if (read(s.wake_fd, &n, sizeof n) < 0) {
            // nothing was there to read: fine
        }
    }
}

// Any thread: an eventfd write needs no lock.
void alsa_wake(void *sink)
{
    uint64_t one = 1;
    if (write(static_cast<alsa_sink *>(sink)->wake_fd, &one, sizeof one) < 0) {
        // a wake already pending does just as well
    }
}

long alsa_write(void *sink, const int16_t *buf, long frames)
{
    return snd_pcm_writei(pcm_of(sink), buf, static_cast<snd_pcm_uframes_t>(frames));
}

long alsa_delay(void *sink)
{
    snd_pcm_t *pcm = pcm_of(sink);
    snd_pcm_state_t st = snd_pcm_state(pcm);
    if (st != SND_PCM_STATE_RUNNING && st != SND_PCM_STATE_PAUSED &&
        st != SND_PCM_STATE_PREPARED && st != SND_PCM_STATE_DRAINING)
        return 0;  // stopped by an underrun: nothing left to hear
    snd_pcm_sframes_t d = 0;
    if (snd_pcm_delay(pcm, &d) < 0 || d < 0)
        return 0;
    // Fewer than a period in a stream that never started would wait for
    // ever: start it.
    if (st == SND_PCM_STATE_PREPARED && d > 0)
        snd_pcm_start(pcm);
    return d;
}

// A device that cannot pause is left to play out what it holds, and the
// play goes on after it, so that nothing is lost or heard twice.
int alsa_pause(void *sink, bool on)
{
    alsa_sink &s = *static_cast<alsa_sink *>(sink);
    snd_pcm_state_t st = snd_pcm_state(s.pcm);
    if (!s.can_pause) {
        if (!on && st == SND_PCM_STATE_XRUN)
            snd_pcm_prepare(s.pcm);  // ran dry while paused: no underrun
        return on ? 1 : 0;
    }
    if (on && st != SND_PCM_STATE_RUNNING)
        return 0;
    if (!on && st != SND_PCM_STATE_PAUSED)
        return 0;
    return snd_pcm_pause(s.pcm, on ? 1 : 0) < 0 ? -1 : 0;
}

void alsa_drop(void *sink)
{
    snd_pcm_drop(pcm_of(sink));
    snd_pcm_prepare(pcm_of(sink));
}

int alsa_recover(void *sink, int err)
{
    return snd_pcm_recover(pcm_of(sink), err, 1);
}

// What the card is about to play, and a little more for the time the
// caller takes to write again, is left alone.
long alsa_rewind(void *sink, long frames)
{
    snd_pcm_t *pcm = pcm_of(sink);
    if (snd_pcm_state(pcm) != SND_PCM_STATE_RUNNING)
        return 0;
    long can = snd_pcm_rewindable(pcm) - SAMPLE_RATE / 50;
    long n = std::min(frames, can);
    if (n <= 0)
        return 0;
    snd_pcm_sframes_t r = snd_pcm_rewind(pcm, static_cast<snd_pcm_uframes_t>(n));
    return r < 0 ? 0 : r;
}

const char *alsa_error_text(void *, int err)
{
    return snd_strerror(err);
}

}  // namespace

const audio_sink_ops alsa_sink_ops = {
    alsa_open, alsa_close, alsa_avail, alsa_wait, alsa_wake, alsa_write,
    alsa_delay, alsa_pause, alsa_drop, alsa_recover, alsa_error_text,
    nullptr, nullptr, alsa_rewind,
};
