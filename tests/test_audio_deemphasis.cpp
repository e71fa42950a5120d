// The de-emphasis filter against the standard 50/15 us curve, measured by
// playing sines through it as the reader thread does, a sector at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/audio.h"
#include "audio/deemphasis.h"

namespace {

double curve_db(double hz)
{
    const double w = 2 * M_PI * hz;
    return 10 * std::log10((1 + std::pow(w * 15e-6, 2)) / (1 + std::pow(w * 50e-6, 2)));
}

// A sine on the left channel only, two seconds of it.
std::vector<int16_t> sine(double hz, double amplitude)
{
    std::vector<int16_t> s(2 * 2 * SAMPLE_RATE);
    for (size_t i = 0; i < s.size() / 2; i++)
        s[2 * i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / SAMPLE_RATE)));
    return s;
}

// The level of the left channel over the second second, once the filter has settled.
double level_db(const std::vector<int16_t> &s, double amplitude)
{
    double sum = 0;
    const size_t from = s.size() / 4;
    for (size_t i = from; i < s.size() / 2; i++)
        sum += double(s[2 * i]) * s[2 * i];
    const double rms = std::sqrt(sum / double(s.size() / 2 - from));
    return 20 * std::log10(rms / (amplitude / std::sqrt(2.0)));
}

void run_in_sectors(deemphasis *d, std::vector<int16_t> *s)
{
    for (size_t at = 0; at < s->size() / 2; at += SECTOR_FRAMES)
        deemphasis_run(d, s->data() + 2 * at, long(std::min<size_t>(SECTOR_FRAMES, s->size() / 2 - at)));
}

}  // namespace

TEST(Deemphasis, FollowsTheStandardCurve)
{
    const double amplitude = 20000;
    for (double hz : {100.0, 1000.0, 3183.0, 5000.0, 10000.0, 16000.0, 20000.0}) {
        std::vector<int16_t> s = sine(hz, amplitude);
        deemphasis d;
        deemphasis_reset(&d);
        run_in_sectors(&d, &s);
        EXPECT_NEAR(level_db(s, amplitude), curve_db(hz), 0.1) << hz << " Hz";
        for (size_t i = 0; i < s.size() / 2; i++)
            ASSERT_EQ(s[2 * i + 1], 0) << "the right channel caught the left's sound at frame " << i;
    }
}

TEST(Deemphasis, PiecesMatchOneRunAndResetForgets)
{
    std::vector<int16_t> whole = sine(7000, 30000), pieces = whole, again = whole;
    deemphasis d;
    deemphasis_reset(&d);
    deemphasis_run(&d, whole.data(), long(whole.size() / 2));
    deemphasis_reset(&d);
    run_in_sectors(&d, &pieces);
    EXPECT_EQ(whole, pieces);
    deemphasis_reset(&d);
    deemphasis_run(&d, again.data(), long(again.size() / 2));
    EXPECT_EQ(whole, again);
}
