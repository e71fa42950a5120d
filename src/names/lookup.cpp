// Names fetched off the event loop: the CD-Text of a real drive (whose
// spin-up can block for many seconds) and the MusicBrainz lookup.  A
// worker thread does the slow part and never touches the toolkit; it
// leaves its result in the job and writes a byte to a pipe, which the
// event loop watches with XtAppAddInput.
#include <curl/curl.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "app/app.h"
#include "names/internal.h"
#include "names/names.h"

#ifndef MURBEL_VERSION
#define MURBEL_VERSION "2"
#endif
#ifndef MURBEL_CONTACT
#define MURBEL_CONTACT "https://example.invalid/murbel"
#endif

namespace {

// A server's answer is read up to this size; a disc's answer is tens of
// kilobytes, a front cover a few megabytes.
const size_t MAX_ANSWER = 1 << 20;
const size_t MAX_COVER = 16 << 20;
const long TIMEOUT_MS = 5000;
const int MAX_REDIRECTS = 3;

struct fetch_job {
    // Given by the event loop before the thread starts.
    unsigned generation = 0;
    disc_toc toc;
    std::string device;  // a real drive to read CD-Text from; empty = none
    bool lookup = false;
    std::string server;
    std::string cover_server;
    std::vector<std::string> dirs;
    std::string image_dir;  // a disc image's directory; empty = none
    std::string sheet;
    // Written by the worker under the lock.
    std::mutex lock;
    bool done = false;
    names_found found;
    std::string cover;
    cover_rank cover_level = COVER_NONE;
    std::vector<std::string> notes;  // for the debug trace
};

int wake_pipe[2] = {-1, -1};
// At exit a transfer still under way is cut short, so that the process
// does not end under it (the TLS library cleans up at exit too).
std::atomic<bool> quitting{false};
std::atomic<int> workers{0};
std::shared_ptr<fetch_job> running, queued;
// MusicBrainz asks for at most one request a second from a client.
std::atomic<int64_t> last_request_ms{-1000000};

// libcurl, and the TLS and protocol libraries under it, would be over a
// third of the player's memory from start-up on: it is loaded when the user
// first turns the lookup on.  Set once by the event loop before a worker
// uses it.
struct curl_calls {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_perform) easy_perform;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_easy_strerror) easy_strerror;
};
const curl_calls *libcurl = nullptr;

template <typename Fn>
bool find(void *lib, const char *name, Fn *fn)
{
    *fn = reinterpret_cast<Fn>(dlsym(lib, name));
    return *fn != nullptr;
}

// Reported once, in one line, when it cannot be had: the lookup is then
// left out, and the rest of the player goes on.
bool load_libcurl()
{
    static curl_calls calls;
    static bool tried = false;
    if (tried)
        return libcurl != nullptr;
    tried = true;
    void *lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!lib || !find(lib, "curl_global_init", &calls.global_init) ||
        !find(lib, "curl_easy_init", &calls.easy_init) ||
        !find(lib, "curl_easy_setopt", &calls.easy_setopt) ||
        !find(lib, "curl_easy_perform", &calls.easy_perform) ||
        !find(lib, "curl_easy_getinfo", &calls.easy_getinfo) ||
        !find(lib, "curl_easy_cleanup", &calls.easy_cleanup) ||
        !find(lib, "curl_easy_strerror", &calls.easy_strerror)) {
        fprintf(stderr, "murbel: no lookup of disc names: %s\n", dlerror());
        return false;
    }
    calls.global_init(CURL_GLOBAL_DEFAULT);
    libcurl = &calls;
    return true;
}

int64_t steady_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct answer {
    std::string body;
    size_t limit;
};

size_t take_bytes(char *data, size_t size, size_t n, void *user)
{
    auto *a = static_cast<answer *>(user);
    size_t len = size * n;
    if (a->body.size() + len > a->limit)
        return 0;  // stops the transfer: nobody needs an answer this big
    a->body.append(data, len);
    return len;
}

int keep_going(void *, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return quitting ? 1 : 0;
}

void stop_workers()
{
    quitting = true;
    for (int i = 0; i < 200 && workers > 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Every request waits for its turn, redirects too: the servers ask for
// at most one a second from a client.
void wait_for_turn()
{
    int64_t wait = last_request_ms.load() + 1000 - steady_ms();
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    last_request_ms = steady_ms();
}

// One request, no redirect followed; the status and where a redirect
// points.  False with why when the transfer failed.
bool http_once(const std::string &url, answer *a, long *status, std::string *location,
               std::string *why)
{
    CURL *c = libcurl->easy_init();
    if (!c) {
        *why = "libcurl gave no handle";
        return false;
    }
    char error[CURL_ERROR_SIZE] = "";
    libcurl->easy_setopt(c, CURLOPT_URL, url.c_str());
    libcurl->easy_setopt(c, CURLOPT_USERAGENT, "Murbel/" MURBEL_VERSION " ( " MURBEL_CONTACT " )");
    libcurl->easy_setopt(c, CURLOPT_TIMEOUT_MS, TIMEOUT_MS);
    libcurl->easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, TIMEOUT_MS);
    libcurl->easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    libcurl->easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    libcurl->easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    libcurl->easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(a->limit));
    libcurl->easy_setopt(c, CURLOPT_WRITEFUNCTION, take_bytes);
    libcurl->easy_setopt(c, CURLOPT_WRITEDATA, a);
    libcurl->easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    libcurl->easy_setopt(c, CURLOPT_XFERINFOFUNCTION, keep_going);
    libcurl->easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    CURLcode rc = libcurl->easy_perform(c);
    *status = 0;
    libcurl->easy_getinfo(c, CURLINFO_RESPONSE_CODE, status);
    char *to = nullptr;
    libcurl->easy_getinfo(c, CURLINFO_REDIRECT_URL, &to);
    *location = to ? to : "";
    libcurl->easy_cleanup(c);
    if (rc != CURLE_OK) {
        *why = *error ? error : libcurl->easy_strerror(rc);
        if (rc == CURLE_WRITE_ERROR || rc == CURLE_FILESIZE_EXCEEDED)
            *why = "the answer is larger than " + std::to_string(a->limit) + " bytes";
        return false;
    }
    return true;
}

// GET url into body, following a few redirects, each request in its
// turn; false with why on any failure.  A 404 is an answer when
// not_found_is_answer (MusicBrainz answers an unknown disc so, with a JSON
// error).
bool http_get(std::string url, size_t limit, bool not_found_is_answer, std::string *body,
              std::string *why)
{
    for (int hop = 0;; hop++) {
        wait_for_turn();
        answer a{"", limit};
        long status;
        std::string location;
        if (!http_once(url, &a, &status, &location, why))
            return false;
        bool redirect = status == 301 || status == 302 || status == 303 || status == 307 ||
                        status == 308;
        if (!redirect) {
            if (status != 200 && !(status == 404 && not_found_is_answer)) {
                *why = "HTTP status " + std::to_string(status);
                return false;
            }
            *body = std::move(a.body);
            return true;
        }
        if (hop == MAX_REDIRECTS) {
            *why = "more than " + std::to_string(MAX_REDIRECTS) + " redirects";
            return false;
        }
        if (location.compare(0, 7, "http://") != 0 && location.compare(0, 8, "https://") != 0) {
            *why = "a redirect to \"" + location.substr(0, 100) + "\"";
            return false;
        }
        url = location;
    }
}

std::string without_slash(std::string server)
{
    while (!server.empty() && server.back() == '/')
        server.pop_back();
    return server;
}

// The release's front cover from the Cover Art Archive, cached beside the
// xmcd file just stored (as that file's name with the image's extension).
std::string fetch_cover(fetch_job &job, const std::string &release, const std::string &stored,
                        std::vector<std::string> &notes)
{
    std::string url = without_slash(job.cover_server) + "/release/" + release + "/front";
    std::string body, why;
    if (!http_get(url, MAX_COVER, false, &body, &why)) {
        notes.push_back("names: no cover for release " + release + ": " + why + "\n");
        return "";
    }
    std::string ext = image_extension(body);
    if (ext.empty()) {
        notes.push_back("names: no cover for release " + release + ": not a picture\n");
        return "";
    }
    size_t slash = stored.rfind('/');
    std::string dir = stored.substr(0, slash), name = stored.substr(slash + 1) + "." + ext;
    if (!file_store_new(dir, name, body, &why)) {
        notes.push_back("names: cover not stored: " + why + "\n");
        return "";
    }
    return cover_beside(stored);
}

names_found musicbrainz_lookup(fetch_job &job, std::vector<std::string> &notes)
{
    names_found f;
    std::string id = musicbrainz_id(job.toc);
    if (id.empty()) {
        notes.push_back("names: no MusicBrainz disc ID for this table of contents\n");
        return f;
    }
    std::string url =
        without_slash(job.server) + "/ws/2/discid/" + id + "?inc=artist-credits+recordings&fmt=json";
    std::string body, why;
    if (!http_get(url, MAX_ANSWER, true, &body, &why)) {
        notes.push_back("names: lookup of " + id + " failed: " + why + "\n");
        return f;
    }
    lookup_result r = musicbrainz_parse(body, id, job.toc.tracks());
    if (!r.ok) {
        notes.push_back("names: lookup of " + id + " failed: " + r.error + "\n");
        return f;
    }
    f.names = r.names;
    f.trust = TRUST_LOOKUP;
    f.source = "musicbrainz " + id;
    std::string stored = cddb_store(job.dirs, r.names, job.toc, &why);
    if (stored.empty()) {
        notes.push_back("names: lookup result not stored: " + why + "\n");
        return f;
    }
    f.source += " (stored in " + stored + ")";
    // Shown as the file will read back, so that a restart shows the same.
    xmcd_result back = xmcd_parse(xmcd_format(r.names, job.toc));
    if (back.ok)
        f.names = back.names;
    if (!r.release_id.empty() && job.cover_level < COVER_BESIDE_IMAGE) {
        job.cover = fetch_cover(job, r.release_id, stored, notes);
        if (!job.cover.empty())
            job.cover_level = COVER_FETCHED;
    }
    return f;
}

void work(std::shared_ptr<fetch_job> job)
{
    std::vector<std::string> notes;
    names_found f;
    if (!job->image_dir.empty()) {
        job->cover = cover_in_dir(job->image_dir, job->sheet);
        if (!job->cover.empty())
            job->cover_level = COVER_BESIDE_IMAGE;
    }
    if (!job->device.empty()) {
        lookup_result r = drive_cdtext_read(job->device, job->toc.first, job->toc.tracks());
        if (r.ok) {
            f.names = r.names;
            f.trust = TRUST_CDTEXT;
            f.source = "cd-text " + job->device;
        }
    }
    if (f.trust == TRUST_NONE && job->lookup)
        f = musicbrainz_lookup(*job, notes);
    {
        std::lock_guard<std::mutex> hold(job->lock);
        job->found = f;
        job->notes = notes;
        job->done = true;
    }
    char byte = 1;
    while (write(wake_pipe[1], &byte, 1) == -1 && errno == EINTR)
        ;
    workers--;
}

void take_result();

// A wake-up the toolkit did not deliver must not hold the names (seen in
// tests on a loaded machine: the byte written, no callback): while a job
// runs, its end is also looked for four times a second.
bool check_armed = false;

void cb_check(XtPointer, XtIntervalId *)
{
    check_armed = false;
    take_result();
}

void arm_check()
{
    if (!check_armed)
        XtAppAddTimeOut(app_context, 250, cb_check, nullptr);
    check_armed = true;
}

void start(std::shared_ptr<fetch_job> job)
{
    running = job;
    workers++;
    std::thread(work, job).detach();
    arm_check();
}

void cb_fetched(XtPointer, int *fd, XtInputId *)
{
    char buf[64];
    while (read(*fd, buf, sizeof buf) > 0)
        ;
    take_result();
}

void take_result()
{
    if (!running)
        return;
    names_found f;
    std::vector<std::string> notes;
    std::string cover;
    cover_rank rank;
    unsigned generation;
    {
        std::lock_guard<std::mutex> hold(running->lock);
        if (!running->done) {
            arm_check();
            return;
        }
        f = running->found;
        notes = running->notes;
        cover = running->cover;
        rank = running->cover_level;
        generation = running->generation;
    }
    running.reset();
    if (generation == names_generation) {
        for (const std::string &n : notes)
            debug_log(1, "%s", n.c_str());
        names_offer(f);
        names_cover_offer(cover, rank);
    }
    if (queued) {
        auto next = queued;
        queued.reset();
        start(next);
    }
}

bool watch_pipe()
{
    if (wake_pipe[0] != -1)
        return true;
    if (pipe(wake_pipe) != 0)
        return false;
    for (int fd : wake_pipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    XtAppAddInput(app_context, wake_pipe[0], reinterpret_cast<XtPointer>(XtInputReadMask),
                  cb_fetched, nullptr);
    atexit(stop_workers);  // after the libraries' own handlers, so run before them
    return true;
}

}  // namespace

void names_fetch_start(const disc_toc &toc, bool want_lookup, const std::string &drive_path,
                       const std::string &image_dir, const std::string &sheet)
{
    if (want_lookup && toc.tracks() >= 1 && !load_libcurl())
        want_lookup = false;
    if ((!want_lookup && drive_path.empty() && image_dir.empty()) || toc.tracks() < 1 ||
        !watch_pipe())
        return;
    auto job = std::make_shared<fetch_job>();
    job->generation = names_generation;
    job->toc = toc;
    job->device = drive_path;
    job->lookup = want_lookup;
    job->server = app_resources.lookupServer ? app_resources.lookupServer : "";
    job->cover_server = app_resources.coverArtServer ? app_resources.coverArtServer : "";
    job->dirs = cddb_dirs(app_resources.cddbPath);
    job->image_dir = image_dir;
    job->sheet = sheet;
    // One job at a time; a disc changed while one runs waits its turn,
    // and the one that waited for a disc gone since is dropped.
    if (running)
        queued = job;
    else
        start(job);
}

bool names_fetch_busy()
{
    return running != nullptr;
}
