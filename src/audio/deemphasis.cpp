// A high-shelf biquad (the audio-EQ cookbook's) fitted to the analog
// curve (1 + j w 15us) / (1 + j w 50us): within 0.05 dB from 20 Hz to
// 20 kHz at 44.1 kHz.  The bilinear transform of the analog filter itself
// is 2.5 dB off at 16 kHz, so the fit is what a listener hears as right.
#include "audio/deemphasis.h"

#include <cmath>

#include "audio/audio.h"

namespace {

struct biquad {
    double b0, b1, b2, a1, a2;
};

biquad shelf()
{
    const double gain_db = -9.4713, centre_hz = 5257.6, slope = 0.47613;
    const double a = std::pow(10.0, gain_db / 40.0);
    const double w0 = 2.0 * M_PI * centre_hz / 44100.0;
    const double c = std::cos(w0);
    const double alpha = std::sin(w0) / 2.0 * std::sqrt((a + 1.0 / a) * (1.0 / slope - 1.0) + 2.0);
    const double sa = 2.0 * std::sqrt(a) * alpha;
    const double a0 = (a + 1) - (a - 1) * c + sa;
    return {a * ((a + 1) + (a - 1) * c + sa) / a0, -2 * a * ((a - 1) + (a + 1) * c) / a0,
            a * ((a + 1) + (a - 1) * c - sa) / a0, 2 * ((a - 1) - (a + 1) * c) / a0,
            ((a + 1) - (a - 1) * c - sa) / a0};
}

const biquad k = shelf();

int16_t clip(double v)
{
    v = std::lround(v);
    return static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

}  // namespace

void deemphasis_reset(deemphasis *d)
{
    *d = deemphasis{};
}

void deemphasis_run(deemphasis *d, int16_t *frames, long count)
{
    for (long i = 0; i < count; i++) {
        for (int ch = 0; ch < 2; ch++) {
            const double x = frames[2 * i + ch];
            const double y = k.b0 * x + k.b1 * d->x1[ch] + k.b2 * d->x2[ch] - k.a1 * d->y1[ch] -
                             k.a2 * d->y2[ch];
            d->x2[ch] = d->x1[ch];
            d->x1[ch] = x;
            d->y2[ch] = d->y1[ch];
            d->y1[ch] = y;
            frames[2 * i + ch] = clip(y);
        }
    }
}

namespace {

struct filtered {
    audio_source inner;
    deemphasis state;
    long next = -1;  // the sector after the last one filtered
};

bool track_has_pre(const audio_toc &toc, long lba)
{
    // A pregap sounds with its own track's flags, as a drive's subchannel tells them.
    size_t i = toc.gaps.size();
    while (i > 0 && lba < toc.gaps[i - 1])
        i--;
    return i > 0 && i - 1 < toc.pre.size() && toc.pre[i - 1];
}

int filtered_read(void *impl, long lba, int count, int16_t *buf)
{
    filtered &f = *static_cast<filtered *>(impl);
    if (f.inner.ops->read(f.inner.impl, lba, count, buf) < 0)
        return -1;
    for (int i = 0; i < count; i++, lba++) {
        if (!track_has_pre(f.inner.toc, lba))
            continue;
        if (lba != f.next)
            deemphasis_reset(&f.state);
        deemphasis_run(&f.state, buf + static_cast<long>(i) * SECTOR_FRAMES * 2, SECTOR_FRAMES);
        f.next = lba + 1;
    }
    return 0;
}

void filtered_close(void *impl)
{
    filtered *f = static_cast<filtered *>(impl);
    f->inner.ops->close(f->inner.impl);
    delete f;
}

const audio_source_ops filtered_ops = {filtered_read, filtered_close};

}  // namespace

audio_source deemphasis_wrap(audio_source src)
{
    bool any = false;
    for (bool pre : src.toc.pre)
        any = any || pre;
    if (!any)
        return src;
    audio_source out;
    out.ops = &filtered_ops;
    out.toc = src.toc;
    out.impl = new filtered{std::move(src), {}, -1};
    return out;
}
