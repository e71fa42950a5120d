// The xmcd reader: any file content.  Whatever it makes of a file holds
// clean names only, and a file it writes from them reads back the same,
// names and track artists alike.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_names.h"

static void fail(const char *what)
{
    fprintf(stderr, "fuzz_xmcd: %s\n", what);
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    xmcd_result r = xmcd_parse(std::string(reinterpret_cast<const char *>(data), size));
    if (!r.ok) {
        if (r.error.empty())
            fail("a failure without a reason");
        return 0;
    }
    if (const char *fault = names_fault(r.names))
        fail(fault);

    // Written out for a disc of that many tracks and read back.
    disc_toc toc;
    for (size_t t = 0; t <= r.names.tracks.size(); t++)
        toc.frames.push_back(150 + 15000 * static_cast<long>(t));
    if (toc.tracks() == 0)
        toc.frames.push_back(30000);
    xmcd_result back = xmcd_parse(xmcd_format(r.names, toc));
    if (!back.ok || !same_names(back.names, r.names))
        fail("a written file reads back differently");
    return 0;
}
