// Cue sheets as the image reader takes them from libcue.
#include <gtest/gtest.h>

#include "audio/audio.h"

// libcue keeps what it built when a sheet fails to parse; that is its
// leak, not ours.  (Read by the leak checker of sanitizer builds only.)
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libcue.so\n";
}

namespace {

TEST(CueSheet, ReadsTracksIndexesGapsAndTypes)
{
    cue_sheet s;
    ASSERT_EQ(cue_parse("\xEF\xBB\xBFTITLE \"Album\"\r\nPERFORMER \"Band\"\r\n"
                        "FILE \"one two.bin\" MOTOROLA\r\n"
                        "  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n"
                        "  TRACK 02 AUDIO\r\n    PREGAP 00:02:00\r\n    INDEX 01 00:10:00\r\n"
                        "FILE b.wav WAVE\r\n"
                        "  TRACK 03 AUDIO\r\n    INDEX 00 00:00:00\r\n    INDEX 01 00:01:05\r\n",
                        &s),
              "");
    EXPECT_EQ(s.title, "Album");
    EXPECT_EQ(s.performer, "Band");
    ASSERT_EQ(s.tracks.size(), 3u);
    struct {
        const char *file;
        cue_file_type type;
        bool data;
        int sector_bytes;
        long index0, index1, silence;
    } want[] = {
        {"one two.bin", CUE_MOTOROLA, true, 2048, -1, 0, 0},
        {"one two.bin", CUE_MOTOROLA, false, 2352, -1, 750, 150},
        {"b.wav", CUE_SNDFILE, false, 2352, 0, 80, 0},
    };
    for (size_t i = 0; i < 3; i++) {
        const cue_track &t = s.tracks[i];
        SCOPED_TRACE("track " + std::to_string(i + 1));
        EXPECT_EQ(t.file, want[i].file);
        EXPECT_EQ(t.type, want[i].type);
        EXPECT_EQ(t.data, want[i].data);
        EXPECT_EQ(t.sector_bytes, want[i].sector_bytes);
        EXPECT_EQ(t.index0, want[i].index0);
        EXPECT_EQ(t.index1, want[i].index1);
        EXPECT_EQ(t.silence, want[i].silence);
    }
}

TEST(CueSheet, RefusesWhatCannotBePlayedWithOneLine)
{
    struct {
        std::string sheet;
        const char *says;
    } cases[] = {
        {"", "not a cue sheet"},
        {"TRACK 01 AUDIO\n  INDEX 01 00:00:00\n", "not a cue sheet ("},  // libcue: no file
        {"FILE \"a\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nnonsense here\n", "not a cue sheet"},
        {"FILE \"a\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n", "track 1: no INDEX 01"},
        {"FILE \"\" AIFF\n  TRACK 01 AUDIO\n    INDEX 01 00\n", "track 1: no FILE for it"},
        {"FILE \"a\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:10\n    INDEX 01 00:00:05\n",
         "track 1: INDEX 00 after INDEX 01"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n",
         "track 1: a data track in a sound file"},
        {"FILE \"a\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n    INDEX 01 00:00:10\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:00:05\n",
         "track 2: starts before the track before it"},
    };
    for (auto &c : cases) {
        cue_sheet s;
        std::string why = cue_read(c.sheet, &s);
        EXPECT_EQ(why.rfind(c.says, 0), 0u) << c.sheet << " -> " << why;
        EXPECT_EQ(why.find('\n'), std::string::npos);
        EXPECT_TRUE(s.tracks.empty());
    }
    // A quoted name may run over lines; the report stays on one.
    cue_sheet n;
    EXPECT_EQ(cue_parse("FILE \"a\nb\" OGGX\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", &n).find('\n'),
              std::string::npos);
    std::string binary("FILE \"a\" BINARY\n\0TRACK", 22);
    cue_sheet s;
    EXPECT_EQ(cue_parse(binary, &s), "not a cue sheet (binary data)");
}

}  // namespace
