// Sends a standard stream (1 or 2) to a file until restore(), or the end
// of its life, so that a test reads what the code under test wrote there.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

struct stream_to_file {
    int fd, saved;
    stream_to_file(int stream, const std::string &path) : fd(stream)
    {
        fflush(stream == 1 ? stdout : stderr);
        saved = dup(fd);
        int f = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(f, fd);
        close(f);
    }
    void restore()
    {
        if (saved < 0)
            return;
        fflush(fd == 1 ? stdout : stderr);
        dup2(saved, fd);
        close(saved);
        saved = -1;
    }
    ~stream_to_file() { restore(); }
    stream_to_file(const stream_to_file &) = delete;
    stream_to_file &operator=(const stream_to_file &) = delete;
};
