// The xmcd file of the CDDB disc databases: "#" comments (the track
// offsets among them), then KEYWORD=value lines.  A keyword repeated on
// the following lines continues its value; DTITLE is "Artist / Album".
#include <cstdio>
#include <cstring>
#include <map>

#include "drive/msf.h"
#include "names/names.h"

#ifndef MURBEL_VERSION
#define MURBEL_VERSION "2"
#endif

namespace {

const int MAX_TRACKS = 99;

std::string unescape(const std::string &v)
{
    std::string out;
    for (size_t i = 0; i < v.size(); i++) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        char c = v[++i];
        out += c == 'n' || c == 't' ? ' ' : c;
    }
    return out;
}

bool parse_number(const std::string &s, long *n)
{
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *n = std::stol(s);
    return true;
}

// "A / B" split at the first " / ": the format's separator of artist and title.
// Split after cleaning, so that what is shown and what is written again
// split the same way.
bool split_artist(const std::string &raw, std::string *artist, std::string *title)
{
    std::string text = text_clean(raw);
    size_t at = text.find(" / ");
    if (at == std::string::npos)
        return false;
    *artist = text_clean(text.substr(0, at));
    *title = text_clean(text.substr(at + 3));
    return true;
}

// A track's own artist on a disc that is not a sampler, where the title
// line cannot carry it: the first line of the track's extended data,
// "Artist: NAME".  Readers that know nothing of it show it as a note.
const char *const EXTT_ARTIST = "Artist: ";

std::string extt_artist(const std::string &raw)
{
    if (raw.compare(0, strlen(EXTT_ARTIST), EXTT_ARTIST) != 0)
        return "";
    std::string first = raw.substr(strlen(EXTT_ARTIST));
    for (size_t i = 0; i < first.size(); i++) {
        if (first[i] == '\\' && i + 1 < first.size()) {
            if (first[i + 1] == 'n') {
                first.resize(i);
                break;
            }
            i++;
        }
    }
    return text_clean(unescape(first));
}

bool various(const std::string &artist)
{
    std::string a;
    for (char c : artist)
        a += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return a == "various" || a == "various artists";
}

}  // namespace

xmcd_result xmcd_parse(const std::string &raw)
{
    xmcd_result r;
    const std::string &text = raw;
    std::map<std::string, std::string> values;
    bool in_offsets = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '#') {
            std::string body = text_clean(line.substr(1));
            long n;
            if (body == "Track frame offsets:") {
                in_offsets = true;
                r.offsets = 0;
            } else if (in_offsets && parse_number(body, &n)) {
                r.offsets++;
            } else {
                in_offsets = false;
            }
            continue;
        }
        in_offsets = false;
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            continue;  // not a keyword line; the format has nothing else
        std::string &value = values[line.substr(0, eq)];
        // A list of disc IDs goes on whole IDs, not cut inside one.
        if (line.compare(0, eq, "DISCID") == 0 && !value.empty())
            value += ',';
        value += line.substr(eq + 1);
    }

    // One encoding for the whole file, judged on the joined values: a
    // writer may have cut a UTF-8 character across a continuation.
    std::string joined;
    for (const auto &kv : values)
        joined += kv.second + "\n";
    if (text_utf8(joined) != joined)
        for (auto &kv : values)
            kv.second = text_utf8(kv.second);

    for (const std::string &word : {std::string("DISCID")}) {
        auto it = values.find(word);
        if (it == values.end())
            continue;
        std::string ids = it->second + ",";
        for (size_t b = 0, c; (c = ids.find(',', b)) != std::string::npos; b = c + 1) {
            std::string id = text_clean(ids.substr(b, c - b));
            unsigned v;
            char extra;
            if (id.size() == 8 && sscanf(id.c_str(), "%8x%c", &v, &extra) == 1)
                r.ids.push_back(v);
        }
    }

    bool any = false;
    auto dt = values.find("DTITLE");
    if (dt != values.end()) {
        std::string d = unescape(dt->second);
        if (!split_artist(d, &r.names.artist, &r.names.album))
            r.names.artist = r.names.album = text_clean(d);
        any = !r.names.album.empty() || !r.names.artist.empty();
    }
    for (int t = 0; t < MAX_TRACKS; t++) {
        auto it = values.find("TTITLE" + std::to_string(t));
        if (it == values.end())
            continue;
        std::string v = unescape(it->second);
        track_name tn;
        if (!various(r.names.artist) || !split_artist(v, &tn.artist, &tn.title))
            tn.title = text_clean(v);
        if (tn.artist.empty())
            tn.artist = extt_artist(values["EXTT" + std::to_string(t)]);
        if (tn.artist == r.names.artist)
            tn.artist.clear();
        if (tn.title.empty() && tn.artist.empty())
            continue;
        if (r.names.tracks.size() <= static_cast<size_t>(t))
            r.names.tracks.resize(t + 1);
        r.names.tracks[t] = tn;
        any = true;
    }
    if (!any) {
        r.error = "no DTITLE or TTITLE";
        return r;
    }
    r.ok = true;
    return r;
}

namespace {

std::string escape(const std::string &v)
{
    std::string out;
    for (char c : v)
        out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

// A cut after an odd run of backslashes would part an escape.
bool splits_escape(const std::string &v, size_t pos, size_t n)
{
    size_t k = 0;
    while (k < n && v[pos + n - 1 - k] == '\\')
        k++;
    return k % 2 == 1;
}

// The format keeps lines within 256 characters: a long value goes on as
// the same keyword on the next lines, cut between characters.
void put_value(std::string &out, const std::string &key, const std::string &value)
{
    const size_t room = 256 - key.size() - 1;
    std::string v = escape(value);
    size_t pos = 0;
    do {
        size_t n = std::min(room, v.size() - pos);
        while (n > 0 && pos + n < v.size() &&
               ((static_cast<unsigned char>(v[pos + n]) & 0xc0) == 0x80 || splits_escape(v, pos, n)))
            n--;
        if (n == 0)
            n = std::min(room, v.size() - pos);
        out += key + "=" + v.substr(pos, n) + "\n";
        pos += n;
    } while (pos < v.size());
}

}  // namespace

std::string xmcd_format(const disc_names &names, const disc_toc &toc)
{
    std::string out = "# xmcd\n#\n# Track frame offsets:\n";
    for (int t = 0; t < toc.tracks(); t++)
        out += "#\t" + std::to_string(toc.frames[t]) + "\n";
    long length = toc.frames.empty() ? 0 : toc.frames.back() / MSF_FRAMES_PER_SECOND;
    out += "#\n# Disc length: " + std::to_string(length) +
           " seconds\n#\n# Revision: 0\n# Submitted via: Murbel " MURBEL_VERSION "\n#\n";
    char id[16];
    snprintf(id, sizeof id, "%08x", freedb_id(toc));
    out += std::string("DISCID=") + id + "\n";
    // An artist alone is better than "Artist / ", which reads back whole.
    std::string dtitle = names.artist.empty() || names.artist == names.album ? names.album
                         : names.album.empty()                               ? names.artist
                                                 : names.artist + " / " + names.album;
    put_value(out, "DTITLE", dtitle);
    out += "DYEAR=\nDGENRE=\n";
    // Readers split "Artist / Title" on a sampler's tracks only; elsewhere
    // the title line holds the title alone and a track's own artist goes
    // into its extended data.
    bool sampler = various(names.artist);
    std::vector<std::string> extt(toc.tracks());
    for (int t = 0; t < toc.tracks(); t++) {
        std::string v;
        if (static_cast<size_t>(t) < names.tracks.size()) {
            const track_name &tn = names.tracks[t];
            bool own = !tn.artist.empty() && tn.artist != names.artist;
            v = tn.title;
            if (sampler && own && !tn.title.empty() && tn.artist.find(" / ") == std::string::npos)
                v = tn.artist + " / " + tn.title;
            else if (own)
                extt[t] = EXTT_ARTIST + tn.artist;
            else if (sampler && tn.title.find(" / ") != std::string::npos)
                v = names.artist + " / " + tn.title;  // read back without an artist
        }
        put_value(out, "TTITLE" + std::to_string(t), v);
    }
    out += "EXTD=\n";
    for (int t = 0; t < toc.tracks(); t++)
        put_value(out, "EXTT" + std::to_string(t), extt[t]);
    out += "PLAYORDER=\n";
    return out;
}
