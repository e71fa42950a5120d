// The xmcd reader: any file content.  Whatever it makes of a file holds
// clean names only, and a file it writes from them reads back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "names/names.h"

static void fail(const char *what)
{
    fprintf(stderr, "fuzz_xmcd: %s\n", what);
    abort();
}

static void check_clean(const std::string &s)
{
    if (text_clean(s) != s)
        fail("a name that is not clean UTF-8");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    xmcd_result r = xmcd_parse(std::string(reinterpret_cast<const char *>(data), size));
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

    // Written out for a disc of that many tracks and read back.
    disc_toc toc;
    for (size_t t = 0; t <= r.names.tracks.size(); t++)
        toc.frames.push_back(150 + 15000 * static_cast<long>(t));
    if (toc.tracks() == 0)
        toc.frames.push_back(30000);
    xmcd_result back = xmcd_parse(xmcd_format(r.names, toc));
    if (!back.ok || back.names.album != r.names.album ||
        back.names.tracks.size() > r.names.tracks.size())
        fail("a written file reads back differently");
    return 0;
}
