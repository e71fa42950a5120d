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
