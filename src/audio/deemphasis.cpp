// A high-shelf biquad (the audio-EQ cookbook's) fitted to the analog
// curve (1 + j w 15us) / (1 + j w 50us): within 0.05 dB from 20 Hz to
// 20 kHz at 44.1 kHz.  The bilinear transform of the analog filter itself
// is 2.5 dB off at 16 kHz, so the fit is what a listener hears as right.
#include "audio/deemphasis.h"

#include <cmath>

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
