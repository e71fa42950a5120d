// Between the names layer's own files.
#pragma once

#include <string>

#include "names/names.h"

// Sources in their order of trust: a higher one replaces a lower one.
enum names_trust { TRUST_NONE, TRUST_LOOKUP, TRUST_CDDB, TRUST_CDTEXT };

struct names_found {
    disc_names names;
    names_trust trust = TRUST_NONE;
    std::string source;  // for the trace: "cddb /path", "cue /path", ...
};

// Counts the discs seen; a result fetched for an earlier one is dropped.
extern unsigned names_generation;

// Takes the names when their source outranks what is known.
void names_offer(const names_found &found);
bool names_fetch_busy();

// Writes a new file dir/name whole, never over one that is there; false
// with why.
bool file_store_new(const std::string &dir, const std::string &name, const std::string &text,
                    std::string *why);

// ---- covers ----

// Ranks of a cover: the user's own picture beside a disc image wins over
// one fetched for the disc.
enum cover_rank { COVER_NONE, COVER_FETCHED, COVER_BESIDE_IMAGE };
// Takes the picture when it outranks the one known.
void names_cover_offer(const std::string &path, cover_rank rank);
// The picture a ripping program saved beside a disc image in dir; empty
// when none.  sheet is the cue sheet's name without its extension.
std::string cover_in_dir(const std::string &dir, const std::string &sheet);
// A cover cached beside an xmcd file (the file's path and an image's
// extension); empty when none.
std::string cover_beside(const std::string &xmcd_path);
// The extension for an image's bytes ("jpg", "png", "gif"); empty when
// the bytes are no picture the desktop shows.
std::string image_extension(const std::string &bytes);
