// Finds a recording in a disc: tells which stretches of CAPTURE (raw
// 16-bit little-endian stereo, as recorded from a sound server) are which
// stretches of REF (the disc as a drive reads it, from its first sector,
// as mkimage writes it), sample for sample.
//
//   audiocmp REF CAPTURE
//
// One line per stretch of the capture, in order (frames are stereo
// samples, counted from the start of the capture):
//   silence FRAME COUNT
//   audio FRAME COUNT FROM TO          the disc from FROM up to (not
//                                      including) TO, bit for bit
//   unmatched FRAME COUNT              sound that is nowhere in the disc
// FROM and TO are disc addresses MM:SS:FF+SSS (SSS the frame within the
// sector, 0 to 587).  A stretch of the disc continues through silence as
// long as the disc is silent there too.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long SECTOR_FRAMES = 588;
constexpr long LEAD_IN = 150;
constexpr long VERIFY = 16;  // frames that must agree to place a stretch

bool load(const char *path, std::vector<uint32_t> &frames)
{
    FILE *f = std::fopen(path, "rb");
    if (!f) {
        std::perror(path);
        return false;
    }
    // A recording still being written may end inside a frame; what comes
    // after the size seen here is left for the next look.
    long size = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
    if (size > 0) {
        frames.resize(static_cast<size_t>(size) / 4);
        std::rewind(f);
        frames.resize(std::fread(frames.data(), 4, frames.size(), f));
    }
    std::fclose(f);
    return true;
}

std::string address(long frame)
{
    long sector = frame / SECTOR_FRAMES + LEAD_IN;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld+%03ld", sector / 4500, sector / 75 % 60, sector % 75,
                  frame % SECTOR_FRAMES);
    return buf;
}

uint32_t key_of(uint32_t a, uint32_t b)
{
    uint64_t x = (static_cast<uint64_t>(a) << 32 | b) * 0x9e3779b97f4a7c15ULL;
    return static_cast<uint32_t>(x >> 32);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: audiocmp REF CAPTURE\n");
        return 2;
    }
    std::vector<uint32_t> ref, cap;
    if (!load(argv[1], ref) || !load(argv[2], cap))
        return 2;

    // Every place of the disc by its first two frames; silent places are
    // left out (silence says nothing about where it is).
    std::vector<uint64_t> index;
    for (size_t i = 0; i + 1 < ref.size(); i++)
        if (ref[i] != 0)
            index.push_back(static_cast<uint64_t>(key_of(ref[i], ref[i + 1])) << 32 | i);
    std::sort(index.begin(), index.end());

    auto locate = [&](size_t at) -> long {
        if (at + 1 >= cap.size())
            return -1;
        uint64_t k = static_cast<uint64_t>(key_of(cap[at], cap[at + 1])) << 32;
        size_t want = std::min<size_t>(VERIFY, cap.size() - at);
        for (auto it = std::lower_bound(index.begin(), index.end(), k);
             it != index.end() && (*it >> 32) == (k >> 32); ++it) {
            size_t p = static_cast<uint32_t>(*it);
            if (p + want <= ref.size() && std::equal(cap.begin() + at, cap.begin() + at + want, ref.begin() + p))
                return static_cast<long>(p);
        }
        return -1;
    };

    size_t i = 0, unmatched_from = 0, unmatched = 0;
    auto flush_unmatched = [&] {
        if (unmatched)
            std::printf("unmatched %zu %zu\n", unmatched_from, unmatched);
        unmatched = 0;
    };
    while (i < cap.size()) {
        if (cap[i] == 0) {
            flush_unmatched();
            size_t j = i;
            while (j < cap.size() && cap[j] == 0)
                j++;
            std::printf("silence %zu %zu\n", i, j - i);
            i = j;
            continue;
        }
        long p = locate(i);
        if (p < 0) {
            if (!unmatched)
                unmatched_from = i;
            unmatched++;
            i++;
            continue;
        }
        flush_unmatched();
        size_t n = 0;
        while (i + n < cap.size() && static_cast<size_t>(p) + n < ref.size() && cap[i + n] == ref[p + n])
            n++;
        std::printf("audio %zu %zu %s %s\n", i, n, address(p).c_str(), address(p + static_cast<long>(n)).c_str());
        i += n;
    }
    flush_unmatched();
    return 0;
}
