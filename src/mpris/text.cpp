// Text for the bus, which takes nothing but UTF-8: a message holding
// anything else is refused whole, and with it every property beside it.
// Titles reach the player in the encoding of wherever they were typed:
// the title dialog gives Latin-1, a hand-written information file or a
// cue sheet saved on Windows gives UTF-8 or the Windows code page.
#include <cstdint>
#include <string>

#include "mpris/internal.h"

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

// Length of the well-formed UTF-8 sequence at s[i], or 0: no overlong
// forms, surrogates or code points past U+10FFFF, as D-Bus demands.
size_t sequence_length(const std::string &s, size_t i)
{
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80)
        return 1;
    size_t n;
    unsigned char lo = 0x80, hi = 0xbf;  // bounds of the second byte
    if (c >= 0xc2 && c <= 0xdf)
        n = 2;
    else if (c == 0xe0)
        n = 3, lo = 0xa0;
    else if (c == 0xed)
        n = 3, hi = 0x9f;
    else if (c >= 0xe1 && c <= 0xef)
        n = 3;
    else if (c == 0xf0)
        n = 4, lo = 0x90;
    else if (c == 0xf4)
        n = 4, hi = 0x8f;
    else if (c >= 0xf1 && c <= 0xf3)
        n = 4;
    else
        return 0;
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; k++) {
        unsigned char d = static_cast<unsigned char>(s[i + k]);
        if (d < (k == 1 ? lo : 0x80) || d > (k == 1 ? hi : 0xbf))
            return 0;
    }
    return n;
}

void put_utf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xc0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        out += static_cast<char>(0xe0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    }
}

// What sd-bus refuses even in well-formed UTF-8: NUL (which would cut the
// string short) and the noncharacters.
bool refused(uint32_t cp)
{
    return cp == 0 || (cp >= 0xfdd0 && cp <= 0xfdef) || (cp & 0xfffe) == 0xfffe;
}

uint32_t decode(const std::string &s, size_t i, size_t n)
{
    static const unsigned char lead_mask[5] = {0, 0x7f, 0x1f, 0x0f, 0x07};
    uint32_t cp = static_cast<unsigned char>(s[i]) & lead_mask[n];
    for (size_t k = 1; k < n; k++)
        cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3f);
    return cp;
}

}  // namespace

bool mpris_valid_utf8(const std::string &s)
{
    for (size_t i = 0; i < s.size();) {
        size_t n = sequence_length(s, i);
        if (!n)
            return false;
        i += n;
    }
    return true;
}

// Text that is valid UTF-8 is taken as UTF-8: other text seldom is by
// chance.  The rest is read as the Windows code page, whose printable
// part is Latin-1's, so a typed title comes out right too.  What the code
// page does not name, and what the bus refuses, becomes U+FFFD.
std::string mpris_utf8(const std::string &text)
{
    std::string out;
    out.reserve(text.size() * 2);
    if (mpris_valid_utf8(text)) {
        for (size_t i = 0; i < text.size();) {
            size_t n = sequence_length(text, i);
            if (refused(decode(text, i, n)))
                put_utf8(out, REPLACEMENT);
            else
                out.append(text, i, n);
            i += n;
        }
        return out;
    }
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == 0)
            put_utf8(out, REPLACEMENT);
        else if (c < 0x80 || c >= 0xa0)
            put_utf8(out, c);
        else
            put_utf8(out, CP1252_HIGH[c - 0x80] ? CP1252_HIGH[c - 0x80] : REPLACEMENT);
    }
    return out;
}
