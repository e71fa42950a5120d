// The simulated drive's disc files: any content, opened as a drive whose
// table of contents is then read as the player reads it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "drive/drive.h"
#include "drive/sim.h"
#include "fuzz_support.h"

static std::string dir, disc_path, log_path;

static void fail(const char *what)
{
    fprintf(stderr, "fuzz_disc: %s\n", what);
    abort();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    dir = fuzz_scratch_dir();
    disc_path = dir + "/disc";
    log_path = dir + "/requests";
    return 0;
}

// A "log" line names a file the drive appends to: it is pointed into the
// scratch directory, whatever the input says.
static std::string confined(const std::string &input)
{
    std::istringstream in(input);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string first;
        words >> first;
        out += (first == "log" ? "log " + log_path : line) + "\n";
    }
    return out;
}

static long frames(const drive_toc_entry &e)
{
    if (e.addr[2] > 59 || e.addr[3] > 74)
        fail("an address out of range");
    return (e.addr[1] * 60L + e.addr[2]) * 75 + e.addr[3];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    sim_reset_all();
    sim_use_manual_clock(true);
    fuzz_write_file(disc_path, confined(std::string(reinterpret_cast<const char *>(data), size)));

    int h = drive_open(("sim:" + disc_path).c_str());
    if (h < 0)
        return 0;
    drive_toc_header hdr{};
    if (drive_read_toc_header(h, &hdr) == 0) {
        if (hdr.first < 1 || hdr.last < hdr.first || hdr.last > 99)
            fail("a header outside tracks 1 to 99");
        long before = -1;
        drive_toc_entry e{};
        for (int t = hdr.first; t <= hdr.last; t++) {
            if (drive_read_toc_entry(h, static_cast<uint8_t>(t), &e) != 0) {
                drive_close(h);  // a refusal the file asked for
                return 0;
            }
            if (e.track != t || frames(e) <= before)
                fail("track starts out of order");
            before = frames(e);
        }
        if (drive_read_toc_entry(h, DRIVE_LEADOUT, &e) == 0 && frames(e) <= before)
            fail("a lead-out before the end of the last track");
        drive_position pos{};
        drive_read_position(h, &pos);
        msf_t start{0, 0, 0}, end{e.addr[1], e.addr[2], e.addr[3]};
        if (drive_play_msf(h, &start, &end) == 0) {
            sim_advance_ms(1000);
            drive_read_position(h, &pos);
            drive_pause(h);
            drive_resume(h);
        }
        drive_stop(h);
    }
    drive_close(h);
    remove(log_path.c_str());
    return 0;
}
