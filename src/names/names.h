// Names of the disc and its tracks from sources other than the disc's
// information file (CD-Text, CDDB files, an online lookup).  The stored
// title always wins for the title bar; these fill in what it leaves out.
#pragma once

#include <string>
#include <vector>

struct track_name {
    std::string title;   // empty = unknown
    std::string artist;  // empty = the disc's artist
};

struct disc_names {
    std::string artist;  // empty = unknown
    std::string album;
    std::vector<track_name> tracks;  // index = track - CDI.min; may be shorter
    std::string source;              // what gave them; empty = nothing known
};

// The names of the disc now in the drive; cleared when the disc goes.
extern disc_names known_names;
