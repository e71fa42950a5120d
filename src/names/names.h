// Names of the disc and its tracks from sources other than the disc's
// information file (CD-Text, CDDB files, an online lookup).  The stored
// title always wins for the title bar; these fill in what it leaves out.
//
// Every name held here is UTF-8 without control characters; what the
// window's fonts cannot draw is replaced only when it is shown.
#pragma once

#include <cstdint>
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

// ---- the table of contents as the disc databases see it ----

struct disc_toc {
    int first = 1;
    // Frame of each track's start, then of the lead-out, counted from the
    // disc's start (the two-second lead-in included: track 1 at 150).
    std::vector<long> frames;
    // Which tracks are data tracks; empty = all audio.
    std::vector<bool> data;
    int tracks() const { return static_cast<int>(frames.size()) - 1; }
};

disc_toc current_toc();  // from CDI; no frames while no disc is held
// Counts every track, data tracks too.
uint32_t freedb_id(const disc_toc &toc);
// Leaves out the data tracks that end an enhanced CD: their session's
// lead-out is the first one's start less 11400 sectors.  Empty on a bad table.
std::string musicbrainz_id(const disc_toc &toc);

// ---- text from outside ----

// UTF-8 when the bytes are valid UTF-8, else read as Latin-1; control
// characters dropped, runs of blanks kept, ends trimmed.
std::string text_clean(const std::string &raw);
// The bytes as UTF-8: kept when valid UTF-8, else read as Latin-1.
std::string text_utf8(const std::string &raw);
// For the window's ISO 8859-1 fonts: what Latin-1 cannot hold becomes '?'.
std::string text_to_latin1(const std::string &utf8);

// ---- readers of files from outside: no side effects ----

struct xmcd_result {
    bool ok = false;
    std::string error;
    disc_names names;
    std::vector<uint32_t> ids;  // the DISCID line's disc IDs
    int offsets = -1;           // track offsets listed in the header; -1 = none
};
xmcd_result xmcd_parse(const std::string &text);
std::string xmcd_format(const disc_names &names, const disc_toc &toc);

struct lookup_result {
    bool ok = false;
    std::string error;
    disc_names names;
    std::string release_id;  // the MusicBrainz release chosen; empty = none
};
// A MusicBrainz answer to a disc ID lookup (JSON); the medium holding that
// disc ID is chosen, else one with `tracks` tracks.
lookup_result musicbrainz_parse(const std::string &json, const std::string &disc_id, int tracks);
// CD-Text of a cue sheet: TITLE and PERFORMER of the disc and its tracks.
lookup_result cue_cdtext_parse(const std::string &sheet);

// CD-Text of the disc in a real drive; blocks while the drive spins up.
lookup_result drive_cdtext_read(const std::string &device, int first, int tracks);

// ---- local CDDB files ----

// The cddbPath resource split into directories, "~" expanded.
std::vector<std::string> cddb_dirs(const char *path);
// The first file named after the disc ID in the directories or their
// category folders that reads as this disc's; its path, or empty.
std::string cddb_find(const std::vector<std::string> &dirs, const disc_toc &toc,
                      xmcd_result *result);
// Writes the names as a new xmcd file into the first writable directory,
// never over an existing file.  The file's path, or empty with why.
std::string cddb_store(const std::vector<std::string> &dirs, const disc_names &names,
                       const disc_toc &toc, std::string *why);

// ---- the player's side ----

// Subscribes the layer to the disc's comings and goings; at start-up,
// before the drive is first opened.
void names_start();
// A disc's information file has been read: gather its names.
void names_read();
// The disc has gone.
void names_clear();
// The title bar's text: the stored title, or the names in its stead.
std::string names_title_text();
// The window's title and icon name (UTF-8) from the current track and the
// names.
std::string window_title_text();

// The online lookup, the drive's CD-Text and a disc image's cover are
// fetched off the event loop; this starts that work for the disc now held.
// image_dir and sheet name a disc image's directory and its sheet's name
// without the extension.
void names_fetch_start(const disc_toc &toc, bool want_lookup, const std::string &drive_path,
                       const std::string &image_dir, const std::string &sheet);

// The picture of the disc now held as a file:// URL (for MPRIS's
// mpris:artUrl); empty when there is none.
std::string names_art_url();
// An absolute path as a file:// URL, every byte but the unreserved ones
// and "/" percent-encoded.
std::string file_url(const std::string &path);
