// The URL session benchmark's reference at high concurrency: small GETs over
// one libcurl multi handle with exactly the requested number in flight. The
// curl command-line tool takes at most 300 at a time, so at 1,000 it would
// open and handshake fewer connections than the session does; this program
// keeps the whole window busy instead.
//
// It does what the command-line tool does for a plain `curl --cacert <file>
// <url>` fetch: a fresh easy handle per transfer, peer and host verification
// against the given CA file, libcurl's default TLS session cache, keep-alive,
// and a connection cache that holds every connection of the window. It runs as
// a child process of the benchmark so that its CPU time and resident memory
// are measured the same way as the tool's.
//
//   curl_multi_gets_reference <url> <ca-file> <requests per round> <in flight> <rounds>
//
// Rounds run one after another over the same multi handle, so the second and
// later rounds reuse the first round's connections. Exits 0 when every
// transfer got a 200 answer; tells on standard error how many connections it
// opened, and prints on standard output "span <seconds> <CPU seconds>": the
// wall and CPU time from after the library's start-up to the last transfer's
// end, which the benchmark compares with the session's rounds.
#include <curl/curl.h>
#include <sys/resource.h>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// User + system time of this process so far.
double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

struct Window {
    CURLM* multi;
    std::string url;
    std::string caFile;
    int started = 0;
    int failed = 0;
    long connections = 0;  // opened, over all transfers

    void start() {
        CURL* e = curl_easy_init();
        const std::string u = url + "?i=" + std::to_string(++started);
        curl_easy_setopt(e, CURLOPT_URL, u.c_str());
        curl_easy_setopt(e, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &discard);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_USERAGENT, "curl/" LIBCURL_VERSION);
        curl_multi_add_handle(multi, e);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <url> <ca-file> <requests per round> <in flight> <rounds>\n", argv[0]);
        return 2;
    }
    const int requests = std::atoi(argv[3]), inFlight = std::atoi(argv[4]), rounds = std::atoi(argv[5]);
    if (requests <= 0 || inFlight <= 0 || rounds <= 0) return 2;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // The span the benchmark compares: from here, past the process's and the
    // library's start-up, to the last transfer's end.
    const auto spanStart = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();
    Window w{curl_multi_init(), argv[1], argv[2]};
    curl_multi_setopt(w.multi, CURLMOPT_MAXCONNECTS, static_cast<long>(inFlight));

    for (int round = 0; round < rounds; ++round) {
        const int end = w.started + requests;
        int active = 0;
        for (; active < inFlight && w.started < end; ++active) w.start();
        while (active > 0) {
            int running = 0;
            curl_multi_perform(w.multi, &running);
            int left = 0;
            while (CURLMsg* m = curl_multi_info_read(w.multi, &left)) {
                if (m->msg != CURLMSG_DONE) continue;
                long status = 0;
                curl_easy_getinfo(m->easy_handle, CURLINFO_RESPONSE_CODE, &status);
                if (m->data.result != CURLE_OK || status != 200) ++w.failed;
                long opened = 0;
                curl_easy_getinfo(m->easy_handle, CURLINFO_NUM_CONNECTS, &opened);
                w.connections += opened;
                curl_multi_remove_handle(w.multi, m->easy_handle);
                curl_easy_cleanup(m->easy_handle);
                --active;
                if (w.started < end) {
                    w.start();
                    ++active;
                }
            }
            if (active > 0) curl_multi_poll(w.multi, nullptr, 0, 1000, nullptr);
        }
    }
    curl_multi_cleanup(w.multi);
    std::printf("span %.6f %.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - spanStart).count(),
                cpuSeconds() - cpuStart);
    curl_global_cleanup();
    std::fprintf(stderr, "%d transfers, %ld connections opened\n", w.started, w.connections);
    if (w.failed) std::fprintf(stderr, "%d transfers failed\n", w.failed);
    return w.failed ? 1 : 0;
}
