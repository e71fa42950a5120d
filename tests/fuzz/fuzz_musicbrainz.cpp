// The reader of MusicBrainz's answers: any bytes a server may send.  It
// never throws, and what it takes holds clean names only.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "names/names.h"

static void fail(const char *what)
{
    fprintf(stderr, "fuzz_musicbrainz: %s\n", what);
    abort();
}

static void check_clean(const std::string &s)
{
    if (text_clean(s) != s)
        fail("a name that is not clean UTF-8");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The disc the seeds speak of, and a count the fuzzer can steer.
    int tracks = size > 0 ? data[0] % 100 : 3;
    lookup_result r = musicbrainz_parse(std::string(reinterpret_cast<const char *>(data), size),
                                        "qiL3KGwA.BvvW8q.MxsWDqOejDg-", tracks);
    if (!r.ok) {
        if (r.error.empty())
            fail("a failure without a reason");
        return 0;
    }
    if (r.names.tracks.size() > 99)
        fail("more than 99 tracks");
    check_clean(r.names.artist);
    check_clean(r.names.album);
    for (const track_name &t : r.names.tracks) {
        check_clean(t.title);
        check_clean(t.artist);
    }
    return 0;
}
