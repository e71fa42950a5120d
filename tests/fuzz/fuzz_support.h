// What the fuzz targets share: a scratch directory and whole-file writes.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// A directory of its own for the run, in memory when the system has one:
// the targets write a file for every input.
// Removed when the fuzzer exits.
inline std::string fuzz_scratch_dir()
{
    static std::string dir;
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/murbel-fuzz-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        perror("mkdtemp");
        abort();
    }
    dir = tmpl;
    atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    });
    return dir;
}

inline void fuzz_write_file(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0) {
        perror(path.c_str());
        abort();
    }
}
