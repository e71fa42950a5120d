// The disc's identity for the disc databases: the freedb disc ID of the
// xmcd files and the MusicBrainz disc ID, both from the table of contents.
#include <discid/discid.h>

#include "disc/cdrom.h"
#include "names/names.h"

disc_toc current_toc()
{
    disc_toc toc;
    if (!tables_present() || CDI.max < CDI.min ||
        CDI.addrs.size() != static_cast<size_t>(CDI.max - CDI.min + 2))
        return toc;
    toc.first = CDI.min;
    for (const msf_t &a : CDI.addrs)
        toc.frames.push_back(msf_frames(a));
    if (data_tracks.size() + 1 == CDI.addrs.size())
        toc.data = data_tracks;
    return toc;
}

static unsigned digit_sum(long n)
{
    unsigned sum = 0;
    for (; n > 0; n /= 10)
        sum += static_cast<unsigned>(n % 10);
    return sum;
}

// The checksum of the track starts' seconds, the playing time and the
// number of tracks, as the xmcd format defines it.
uint32_t freedb_id(const disc_toc &toc)
{
    if (toc.tracks() < 1)
        return 0;
    unsigned n = 0;
    for (int t = 0; t < toc.tracks(); t++)
        n += digit_sum(toc.frames[t] / MSF_FRAMES_PER_SECOND);
    long length =
        toc.frames.back() / MSF_FRAMES_PER_SECOND - toc.frames.front() / MSF_FRAMES_PER_SECOND;
    return (n % 0xff) << 24 | static_cast<uint32_t>(length & 0xffff) << 8 |
           static_cast<uint32_t>(toc.tracks() & 0xff);
}

static bool is_data(const disc_toc &toc, int t)
{
    return static_cast<size_t>(t) < toc.data.size() && toc.data[t];
}

std::string musicbrainz_id(const disc_toc &toc)
{
    int n = toc.tracks();
    if (n < 1 || toc.first < 1 || toc.first + n - 1 > 99)
        return "";
    long leadout = toc.frames.back();
    // An enhanced CD: the audio session ends where the data session's
    // lead-out and lead-in begin.
    int audio = n;
    while (audio > 0 && is_data(toc, audio - 1))
        audio--;
    if (audio > 0 && audio < n) {
        n = audio;
        leadout = toc.frames[n] - 11400;
        if (leadout <= toc.frames[n - 1])
            return "";
    }
    int offsets[100] = {};
    offsets[0] = static_cast<int>(leadout);
    for (int t = 0; t < n; t++)
        offsets[toc.first + t] = static_cast<int>(toc.frames[t]);
    DiscId *d = discid_new();
    std::string id;
    if (d && discid_put(d, toc.first, toc.first + n - 1, offsets))
        id = discid_get_id(d);
    if (d)
        discid_free(d);
    return id;
}
