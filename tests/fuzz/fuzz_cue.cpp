// Cue sheets: any text, brought into libcue's grammar, read by libcue and
// checked as the image reader checks it, in this process (the player
// reads them in a child).  libcue has had memory faults; the sanitizers
// watch it here.
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
    if (sheet.first < 1 || sheet.first + static_cast<int>(sheet.tracks.size()) - 1 > 99)
        fail("track numbers outside 1 to 99");
    for (const cue_track &t : sheet.tracks) {
        // Only a data track that was not read may lack INDEX 01.
        if ((t.index1 < 0 && !t.data) || (t.index0 >= 0 && t.index1 >= 0 && t.gap_file.empty() &&
                                          t.index0 > t.index1) ||
            t.silence < 0 || t.postgap < 0)
            fail("indexes out of order");
        if (t.file.empty())
            fail("a track without a file");
        if (t.sector_bytes < 2048 || t.sector_bytes > 2448)
            fail("a sector size no disc has");
    }
    return 0;
}
