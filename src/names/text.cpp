// Text that comes from outside (CDDB files, CD-Text, a server's answer):
// made into clean UTF-8 once, and into the fonts' Latin-1 when shown.
#include "names/names.h"
#include "names/utf8.h"

size_t utf8_length(const std::string &s, size_t i, uint32_t *cp)
{
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t v;
    if (c < 0x80) {
        *cp = c;
        return 1;
    } else if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
        v = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        v = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        v = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; k++) {
        unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xc0) != 0x80)
            return 0;
        v = v << 6 | (d & 0x3f);
    }
    if ((n == 3 && v < 0x800) || (n == 4 && v < 0x10000) || v > 0x10ffff ||
        (v >= 0xd800 && v <= 0xdfff))
        return 0;
    *cp = v;
    return n;
}

bool utf8_valid(const std::string &s)
{
    uint32_t cp;
    for (size_t i = 0; i < s.size();) {
        size_t n = utf8_length(s, i, &cp);
        if (!n)
            return false;
        i += n;
    }
    return true;
}

void utf8_put(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xc0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xe0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3f));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    }
}

namespace {

// C0 and C1 controls, DEL, and the line and paragraph separators: none of
// them belongs in a one-line name.  Tabs become blanks.
bool is_control(uint32_t cp)
{
    return cp < 0x20 || (cp >= 0x7f && cp < 0xa0) || cp == 0x2028 || cp == 0x2029;
}

// Typographic marks that names often carry have plain forms the fonts hold.
const char *stand_in(uint32_t cp)
{
    switch (cp) {
    case 0x2018: case 0x2019: case 0x201a: case 0x2032:
        return "'";
    case 0x201c: case 0x201d: case 0x201e: case 0x2033:
        return "\"";
    case 0x2010: case 0x2011: case 0x2012: case 0x2013: case 0x2014: case 0x2212:
        return "-";
    case 0x2026:
        return "...";
    default:
        return "?";
    }
}

}  // namespace

std::string text_clean(const std::string &raw)
{
    bool utf8 = utf8_valid(raw);
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size();) {
        uint32_t cp;
        if (utf8) {
            i += utf8_length(raw, i, &cp);
        } else {
            cp = static_cast<unsigned char>(raw[i++]);
        }
        if (cp == '\t')
            cp = ' ';
        if (is_control(cp) || cp == 0xfeff)
            continue;
        utf8_put(out, cp);
    }
    size_t b = out.find_first_not_of(' ');
    if (b == std::string::npos)
        return "";
    return out.substr(b, out.find_last_not_of(' ') - b + 1);
}

std::string text_utf8(const std::string &raw)
{
    if (utf8_valid(raw))
        return raw;
    std::string out;
    out.reserve(raw.size() + raw.size() / 8);
    for (char c : raw)
        utf8_put(out, static_cast<unsigned char>(c));
    return out;
}

std::string text_to_latin1(const std::string &utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp;
        size_t n = utf8_length(utf8, i, &cp);
        if (!n) {
            out += '?';
            i++;
            continue;
        }
        i += n;
        if (is_control(cp))
            continue;
        if (cp <= 0xff)
            out += static_cast<char>(cp);
        else
            out += stand_in(cp);
    }
    return out;
}
