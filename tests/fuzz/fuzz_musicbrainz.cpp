// The reader of MusicBrainz's answers: any bytes a server may send.  It
// never throws, and what it takes holds clean names only.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_names.h"

static void fail(const char *what)
{
    fprintf(stderr, "fuzz_musicbrainz: %s\n", what);
    abort();
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
    if (const char *fault = names_fault(r.names))
        fail(fault);
    if (r.release_id.find_first_not_of("0123456789abcdef-") != std::string::npos)
        fail("a release id that is no MBID");
    if (const char *fault = round_trip_fault(r.names))
        fail(fault);
    return 0;
}
