// Text for the bus, which takes nothing but UTF-8: a message holding
// anything else is refused whole, and with it every property beside it.
// Titles reach the player in the encoding of wherever they were typed:
// the title dialog gives Latin-1, a hand-written information file or a
// cue sheet saved on Windows gives UTF-8 or the Windows code page.
#include <cstdint>
#include <string>

#include "mpris/internal.h"
#include "names/utf8.h"

namespace {

// Windows-1252 at 0x80..0x9f, where Latin-1 has control codes; 0 where
// the code page has no character.
const uint16_t CP1252_HIGH[32] = {
    0x20ac, 0,      0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
    0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017d, 0,
    0,      0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
    0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0,      0x017e, 0x0178,
};

const uint32_t REPLACEMENT = 0xfffd;

// What sd-bus refuses even in well-formed UTF-8: NUL (which would cut the
// string short) and the noncharacters.
bool refused(uint32_t cp)
{
    return cp == 0 || (cp >= 0xfdd0 && cp <= 0xfdef) || (cp & 0xfffe) == 0xfffe;
}

}  // namespace

bool mpris_valid_utf8(const std::string &s)
{
    return utf8_valid(s);
}

// Text that is valid UTF-8 is taken as UTF-8: other text seldom is by
// chance.  The rest is read as the Windows code page, whose printable
// part is Latin-1's, so a typed title comes out right too.  What the code
// page does not name, and what the bus refuses, becomes U+FFFD.
std::string mpris_utf8(const std::string &text)
{
    std::string out;
    out.reserve(text.size() * 2);
    if (utf8_valid(text)) {
        for (size_t i = 0; i < text.size();) {
            uint32_t cp;
            size_t n = utf8_length(text, i, &cp);
            if (refused(cp))
                utf8_put(out, REPLACEMENT);
            else
                out.append(text, i, n);
            i += n;
        }
        return out;
    }
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == 0)
            utf8_put(out, REPLACEMENT);
        else if (c < 0x80 || c >= 0xa0)
            utf8_put(out, c);
        else
            utf8_put(out, CP1252_HIGH[c - 0x80] ? CP1252_HIGH[c - 0x80] : REPLACEMENT);
    }
    return out;
}
