// UTF-8 read and written: for the names layer, and for the bus, which
// takes nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Length of the well-formed UTF-8 sequence at s[i], with its code point
// in *cp, or 0.  Overlong forms, surrogates and code points past U+10FFFF
// are not well-formed.
size_t utf8_length(const std::string &s, size_t i, uint32_t *cp);
bool utf8_valid(const std::string &s);
void utf8_put(std::string &out, uint32_t cp);
