// Cue sheets: any text, read by libcue and checked as the image reader
// checks it.  libcue has had memory faults; the sanitizers watch it here.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/audio.h"

static void fail(const char *what)
{
    fprintf(stderr, "fuzz_cue: %s\n", what);
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    cue_sheet sheet;
    std::string why = cue_parse(std::string(reinterpret_cast<const char *>(data), size), &sheet);
    if (!why.empty()) {
        if (!sheet.tracks.empty())
            fail("an error with tracks left behind");
        if (why.find('\n') != std::string::npos)
            fail("a reason of more than one line");
        return 0;
    }
    if (sheet.tracks.empty() || sheet.tracks.size() > 99)
        fail("a sheet without tracks or with more than 99");
    for (const cue_track &t : sheet.tracks) {
        if (t.index1 < 0 || (t.index0 >= 0 && t.index0 > t.index1) || t.silence < 0)
            fail("indexes out of order");
        if (t.file.empty() && t.type != CUE_BINARY)
            fail("a typed file without a name");
    }
    return 0;
}
