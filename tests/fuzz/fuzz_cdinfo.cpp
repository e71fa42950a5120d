// The disc information file reader: any file content, for the three-track
// disc held in the tables.  What a save writes must read back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app.h"
#include "disc/cdinfo.h"
#include "disc/cdrom.h"
#include "fuzz_support.h"

static std::string info_dir;

static void fail(const char *what)
{
    fprintf(stderr, "fuzz_cdinfo: %s\n", what);
    abort();
}

static void close_info_file()
{
    if (info_file)
        fclose(info_file);
    info_file = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    info_dir = fuzz_scratch_dir();
    app_resources.cdInfoDir = info_dir.data();
    // Tracks of 248, 170 and 210 seconds: the file is cd.406.
    CDI.min = 1;
    CDI.max = 3;
    CDI.times = {248, 170, 210};
    CDI.addrs = {{0, 2, 0}, {4, 10, 33}, {7, 0, 0}, {10, 30, 12}};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string path = info_dir + "/cd." + std::to_string(disc_id());
    fuzz_write_file(path, std::string(reinterpret_cast<const char *>(data), size));
    program_string = "stale";
    cdinfo_read();
    if (!info_read || info_path != path)
        fail("the disc's file was not the one read");
    if (!title)
        fail("no title after a read");
    if (title->find('\n') != std::string::npos)
        fail("a title with a line end");
    if (program_string.find_first_of(" \t\n\v\f\r") != std::string::npos)
        fail("a program text with blanks");

    // Saved and read again, title and program come back as they were.
    std::string read_title = *title, read_program = program_string;
    cb_save_program(nullptr, nullptr, nullptr);
    if (!info_file)
        fail("the save failed");
    close_info_file();
    cdinfo_read();
    if (title != read_title || program_string != read_program)
        fail("a saved file reads back differently");
    close_info_file();
    return 0;
}
