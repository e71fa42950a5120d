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

namespace {

// Twenty sectors of noise; track 2 (pregap from sector 8, INDEX 01 at 10)
// was recorded with pre-emphasis.
struct memory_disc {
    std::vector<int16_t> samples = std::vector<int16_t>(20 * SECTOR_FRAMES * 2);
    int closed = 0;
};

int memory_read(void *impl, long lba, int count, int16_t *buf)
{
    const auto &m = *static_cast<memory_disc *>(impl);
    std::copy_n(m.samples.begin() + lba * SECTOR_FRAMES * 2, count * SECTOR_FRAMES * 2, buf);
    return 0;
}

void memory_close(void *impl)
{
    static_cast<memory_disc *>(impl)->closed++;
}

const audio_source_ops memory_ops = {memory_read, memory_close};

}  // namespace

TEST(Deemphasis, OnlyFlaggedTracksOfASourceAreFiltered)
{
    memory_disc disc;
    uint32_t x = 12345;
    for (int16_t &v : disc.samples)
        v = static_cast<int16_t>((x = x * 1664525u + 1013904223u) >> 16);
    audio_source plain;
    plain.ops = &memory_ops;
    plain.impl = &disc;
    plain.toc.starts = {0, 10};
    plain.toc.gaps = {0, 8};
    plain.toc.data = {false, false};
    plain.toc.leadout = 20;
    EXPECT_EQ(deemphasis_wrap(plain).impl, &disc) << "no flagged track: the source itself";

    plain.toc.pre = {false, true};
    audio_source src = deemphasis_wrap(plain);
    ASSERT_NE(src.impl, &disc);
    const long sector = SECTOR_FRAMES * 2;
    auto expected = [&](long from, long to) {
        std::vector<int16_t> want(disc.samples.begin() + from * sector, disc.samples.begin() + to * sector);
        deemphasis d;
        deemphasis_reset(&d);
        long filtered_from = std::max(from, 8L);
        deemphasis_run(&d, want.data() + (filtered_from - from) * sector, (to - filtered_from) * SECTOR_FRAMES);
        return want;
    };
    // Read in pieces across the pregap, as the reader thread does, then
    // a jump: the filter starts afresh where the play starts.
    std::vector<int16_t> got(20 * sector);
    for (auto [from, to] : {std::pair{0L, 5L}, {5L, 9L}, {9L, 20L}})
        ASSERT_EQ(src.ops->read(src.impl, from, int(to - from), got.data() + from * sector), 0);
    EXPECT_EQ(got, expected(0, 20));
    std::vector<int16_t> jump(5 * sector);
    ASSERT_EQ(src.ops->read(src.impl, 15, 5, jump.data()), 0);
    EXPECT_EQ(jump, expected(15, 20));
    src.ops->close(src.impl);
    EXPECT_EQ(disc.closed, 1);
}
