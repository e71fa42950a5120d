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
// kilobytes.
const size_t MAX_ANSWER = 1 << 20;
const long TIMEOUT_MS = 5000;

struct fetch_job {
    // Given by the event loop before the thread starts.
    unsigned generation = 0;
    disc_toc toc;
    std::string device;  // a real drive to read CD-Text from; empty = none
    bool lookup = false;
    std::string server;
    std::vector<std::string> dirs;
    // Written by the worker under the lock.
    std::mutex lock;
    bool done = false;
    names_found found;
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

size_t take_bytes(char *data, size_t size, size_t n, void *user)
{
    auto *body = static_cast<std::string *>(user);
    size_t len = size * n;
    if (body->size() + len > MAX_ANSWER)
        return 0;  // stops the transfer: nobody needs an answer this big
    body->append(data, len);
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

// GET url into body; false with why on any failure.
bool http_get(const std::string &url, std::string *body, std::string *why)
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
    libcurl->easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    libcurl->easy_setopt(c, CURLOPT_MAXREDIRS, 3L);
    libcurl->easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    libcurl->easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    libcurl->easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MAX_ANSWER));
    libcurl->easy_setopt(c, CURLOPT_WRITEFUNCTION, take_bytes);
    libcurl->easy_setopt(c, CURLOPT_WRITEDATA, body);
    libcurl->easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    libcurl->easy_setopt(c, CURLOPT_XFERINFOFUNCTION, keep_going);
    libcurl->easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    CURLcode rc = libcurl->easy_perform(c);
    long status = 0;
    libcurl->easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    libcurl->easy_cleanup(c);
    if (rc != CURLE_OK) {
        *why = *error ? error : libcurl->easy_strerror(rc);
        if (rc == CURLE_WRITE_ERROR || rc == CURLE_FILESIZE_EXCEEDED)
            *why = "the answer is larger than " + std::to_string(MAX_ANSWER) + " bytes";
        return false;
    }
    // MusicBrainz answers an unknown disc with 404 and a JSON error.
    if (status != 200 && status != 404) {
        *why = "HTTP status " + std::to_string(status);
        return false;
    }
    return true;
}

void wait_for_turn()
{
    int64_t wait = last_request_ms.load() + 1000 - steady_ms();
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    last_request_ms = steady_ms();
}

names_found musicbrainz_lookup(fetch_job &job, std::vector<std::string> &notes)
{
    names_found f;
    std::string id = musicbrainz_id(job.toc);
    if (id.empty()) {
        notes.push_back("names: no MusicBrainz disc ID for this table of contents\n");
        return f;
    }
    std::string server = job.server;
    while (!server.empty() && server.back() == '/')
        server.pop_back();
    std::string url = server + "/ws/2/discid/" + id + "?inc=artist-credits+recordings&fmt=json";
    wait_for_turn();
    std::string body, why;
    if (!http_get(url, &body, &why)) {
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
    if (stored.empty())
        notes.push_back("names: lookup result not stored: " + why + "\n");
    else
        f.source += " (stored in " + stored + ")";
    return f;
}

void work(std::shared_ptr<fetch_job> job)
{
    std::vector<std::string> notes;
    names_found f;
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

void start(std::shared_ptr<fetch_job> job)
{
    running = job;
    workers++;
    std::thread(work, job).detach();
}

void cb_fetched(XtPointer, int *fd, XtInputId *)
{
    char buf[64];
    while (read(*fd, buf, sizeof buf) > 0)
        ;
    if (!running)
        return;
    names_found f;
    std::vector<std::string> notes;
    unsigned generation;
    {
        std::lock_guard<std::mutex> hold(running->lock);
        if (!running->done)
            return;
        f = running->found;
        notes = running->notes;
        generation = running->generation;
    }
    running.reset();
    if (generation == names_generation) {
        for (const std::string &n : notes)
            debug_log(1, "%s", n.c_str());
        names_offer(f);
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

void names_fetch_start(const disc_toc &toc, bool want_lookup, const std::string &drive_path)
{
    if (want_lookup && toc.tracks() >= 1 && !load_libcurl())
        want_lookup = false;
    if ((!want_lookup && drive_path.empty()) || toc.tracks() < 1 || !watch_pipe())
        return;
    auto job = std::make_shared<fetch_job>();
    job->generation = names_generation;
    job->toc = toc;
    job->device = drive_path;
    job->lookup = want_lookup;
    job->server = app_resources.lookupServer ? app_resources.lookupServer : "";
    job->dirs = cddb_dirs(app_resources.cddbPath);
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
