// URLSession against the curl command-line tool, side by side, over one local
// HTTPS server (tests/peers/https/server.js):
// - rounds of 1,000 small GETs with 10, 32, 100 or 1,000 in flight, cold and warm. Cold: a
//   fresh session per round, as curl gets a fresh process per round. Warm:
//   one session for all rounds, as one curl process fetches all of them
//   (--parallel --parallel-max <in flight> over a URL range) reusing its
//   connections. The tool takes at most 300 in flight, so at 1,000 it opens
//   fewer connections than the session; the same rounds also run through
//   curl_multi_gets_reference (reference/curl_multi_gets.cpp), libcurl's multi
//   interface with the whole window in flight and the tool's TLS settings,
//   started as a child process like the tool, which reports the span of its
//   own transfers: its rows leave out starting a process and the library, as
//   the session's leave out the benchmark's start-up. They are the reference
//   to quote; the tool's rows (which include its start-up and, at 1,000 in
//   flight, its cap) stay for comparison.
//   Each side also reports CPU time per request (user + system; curl's from
//   its own rusage);
// - a 1 GiB download, into memory handed to a delegate that drops it and into
//   a file (curl: to /dev/null and to a file).
// Reports requests/s, MB/s and peak resident memory of each side, then the
// ratios session / curl. The curl figures include starting its process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/URLSession.h"
#include "LoggedPeer.h"

extern char** environ;

using namespace pellix::platform;
using pellix::bench::spawnWithLog;
using pellix::bench::waitForLogLine;

namespace {

constexpr int kRequests = 1000;
constexpr int kRounds = 5;
constexpr int kMaxInFlight = 1000;
constexpr std::int64_t kGiB = 1ll << 30;

std::string gDir;
std::string gCert;
std::string gBase;
pid_t gServer = -1;
std::map<std::string, double> gRate;    // benchmark name → requests/s or bytes/s
std::map<std::string, double> gMemory;  // benchmark name → peak resident bytes
std::map<std::string, double> gCpu;     // benchmark name → CPU seconds per request

// The peak resident memory of a running process (its own, from exec on).
long processPeak(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) * 1024;
    return 0;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }
double cpuSeconds(const rusage& u) { return seconds(u.ru_utime) + seconds(u.ru_stime); }

// User + system time of this whole process so far.
double selfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return cpuSeconds(u);
}

struct ProcessResult {
    int status = -1;
    long peak = 0;      // resident bytes
    double cpu = 0;     // user + system seconds
    // What the libcurl driver reports of its own transfers, past its start-up.
    double span = 0;    // wall seconds
    double spanCpu = 0; // user + system seconds
};

// Runs argv, waits, returns its exit status, peak resident bytes and CPU
// time. The peak is sampled from /proc while the child runs: the kernel's own
// figure for a spawned child starts from the parent's size.
ProcessResult runProcess(const std::vector<std::string>& args, const std::string& out = "/dev/null") {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return {};
    long peak = 0;
    int status = 0;
    rusage usage{};
    for (;;) {
        peak = std::max(peak, processPeak(pid));
        pid_t r = wait4(pid, &status, WNOHANG, &usage);
        if (r == pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, peak, cpuSeconds(usage)};
}

void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double currentMemory() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) * 1024;
    return 0;
}

double peakMemory() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) * 1024;
    return 0;
}

bool startServer() {
    char tmpl[] = "/tmp/pellix-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    gDir = tmpl;
    gCert = gDir + "/cert.pem";
    std::string key = gDir + "/key.pem";
    if (runProcess({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-keyout", key, "-out", gCert, "-subj", "/CN=localhost", "-days", "2", "-addext",
                    "subjectAltName=IP:127.0.0.1,DNS:localhost"})
            .status != 0)
        return false;
    // The session's default trust handling reads the same anchor as curl.
    setenv("SSL_CERT_FILE", gCert.c_str(), 1);
    std::string log = gDir + "/server.out";
    gServer = spawnWithLog({"node", pellix::bench::sourceDir() + "/tests/peers/https/server.js", "--port", "0", "--cert", gCert,
                            "--key", key},
                           log);
    if (gServer < 0) return false;
    if (auto m = waitForLogLine(log, std::regex("listening (\\d+)"), 200)) {
        gBase = "https://127.0.0.1:" + (*m)[1];
        return true;
    }
    return false;
}

void stopServer() {
    if (gServer > 0) {
        kill(gServer, SIGTERM);
        waitpid(gServer, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
}

// Drops received bytes; signals completions.
class Sink : public URLSessionDelegate {
public:
    std::mutex mutex;
    std::condition_variable cv;
    int done = 0;
    int target = 0;  // the count waitFor waits for: only reaching it wakes the waiter
    std::int64_t bytes = 0;
    bool failed = false;
    std::shared_ptr<URLSession> session;  // for refilling the window
    std::function<void()> onDone;

    void didReceiveData(const SessionPtr&, const DataTaskPtr&, const pellix::platform::Bytes& d) override {
        std::lock_guard lock(mutex);
        bytes += static_cast<std::int64_t>(d.size());
    }
    void didFinishDownloadingToURL(const SessionPtr&, const DownloadTaskPtr&, const URL& location) override {
        std::lock_guard lock(mutex);
        bytes += static_cast<std::int64_t>(std::filesystem::file_size(location.path()));
    }
    void didCompleteWithError(const SessionPtr&, const TaskPtr&, ErrorPtr error) override {
        std::function<void()> next;
        {
            std::lock_guard lock(mutex);
            next = onDone;
        }
        // Refill first, so nothing runs for this round once the count is reached.
        if (next) next();
        bool reached;
        {
            std::lock_guard lock(mutex);
            ++done;
            if (error) failed = true;
            reached = done == target;
        }
        // The harness's own wake-ups stay out of the session's CPU figure.
        if (reached) cv.notify_all();
    }
    void waitFor(int count) {
        std::unique_lock lock(mutex);
        target = count;
        cv.wait(lock, [&] { return done >= count; });
    }
};

std::shared_ptr<URLSession> makeSession(const std::shared_ptr<Sink>& sink, int inFlight = 32) {
    auto config = URLSessionConfiguration::defaultSessionConfiguration();
    config.setHTTPMaximumConnectionsPerHost(inFlight);
    return URLSession::sessionWithConfiguration(config, sink, nullptr);
}

void finishSession(const std::shared_ptr<URLSession>& session) { session->invalidateAndCancel(); }

// One round of kRequests GETs, `inFlight` at a time: each completion starts the next.
void sessionRound(const std::shared_ptr<Sink>& sink, const std::shared_ptr<URLSession>& session,
                  const URLRequest& request, int inFlight) {
    std::atomic<int> started{0};
    {
        std::lock_guard lock(sink->mutex);
        sink->done = 0;
        sink->onDone = [&] {
            if (started.fetch_add(1) < kRequests) session->dataTaskWithRequest(request)->resume();
        };
    }
    for (int i = 0; i < inFlight; ++i) {
        started.fetch_add(1);
        session->dataTaskWithRequest(request)->resume();
    }
    sink->waitFor(kRequests);
    std::lock_guard lock(sink->mutex);
    sink->onDone = nullptr;
}

void report(benchmark::State& state, std::string name, double requests, double cpu, double peak) {
    name += "/" + std::to_string(state.range(0));
    state.counters["requests/s"] = benchmark::Counter(requests, benchmark::Counter::kIsRate);
    state.counters["cpu_us/req"] = cpu / requests * 1e6;
    state.counters["peak_rss_MB"] = peak / 1e6;
    gCpu[name] = cpu / requests;
    gMemory[name] = peak;
}

// A fresh session per round: every round connects and handshakes anew.
void BM_Session_SmallGetsCold(benchmark::State& state) {
    URLRequest request(*URL::parse(gBase + "/small"));
    bool failed = false;
    resetPeakMemory();
    const double cpu0 = selfCpu();
    for (auto _ : state) {
        auto sink = std::make_shared<Sink>();
        auto session = makeSession(sink, static_cast<int>(state.range(0)));
        sessionRound(sink, session, request, static_cast<int>(state.range(0)));
        failed = failed || sink->failed;
        finishSession(session);
    }
    if (failed) state.SkipWithError("a request failed");
    report(state, __func__, static_cast<double>(state.iterations()) * kRequests, selfCpu() - cpu0, peakMemory());
}

ProcessResult curlMultiGets(std::int64_t inFlight, int rounds);

// One cold round of the session and one of the libcurl driver in turn
// within each iteration, the side that goes first alternating, so that a
// change in the machine's load falls on both alike. Counters: requests/s
// and CPU per request of each side and their ratios (session / libcurl).
void BM_Paired_SmallGetsCold(benchmark::State& state) {
    URLRequest request(*URL::parse(gBase + "/small"));
    const int inFlight = static_cast<int>(state.range(0));
    double sessionSeconds = 0, sessionCpu = 0, curlSeconds = 0, curlCpu = 0;
    bool sessionFirst = true;
    for (auto _ : state) {
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == sessionFirst) {
                const double cpu0 = selfCpu();
                const auto start = std::chrono::steady_clock::now();
                auto sink = std::make_shared<Sink>();
                auto session = makeSession(sink, inFlight);
                sessionRound(sink, session, request, inFlight);
                finishSession(session);
                sessionSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                sessionCpu += selfCpu() - cpu0;
                if (sink->failed) state.SkipWithError("a request failed");
            } else {
                const ProcessResult r = curlMultiGets(inFlight, 1);
                if (r.status != 0) state.SkipWithError("the libcurl driver failed");
                curlSeconds += r.span;
                curlCpu += r.spanCpu;
            }
        }
        sessionFirst = !sessionFirst;
    }
    const double requests = static_cast<double>(state.iterations()) * kRequests;
    state.counters["session_req/s"] = requests / sessionSeconds;
    state.counters["libcurl_req/s"] = requests / curlSeconds;
    state.counters["rate_ratio"] = curlSeconds / sessionSeconds;
    state.counters["session_cpu_us"] = sessionCpu / requests * 1e6;
    state.counters["libcurl_cpu_us"] = curlCpu / requests * 1e6;
    state.counters["cpu_ratio"] = curlCpu > 0 ? sessionCpu / curlCpu : 0;
}

// One session for every round, its connections kept alive between them.
void BM_Session_SmallGetsWarm(benchmark::State& state) {
    auto sink = std::make_shared<Sink>();
    auto session = makeSession(sink, static_cast<int>(state.range(0)));
    URLRequest request(*URL::parse(gBase + "/small"));
    resetPeakMemory();
    const double startRss = currentMemory();
    const double cpu0 = selfCpu();
    for (auto _ : state) sessionRound(sink, session, request, static_cast<int>(state.range(0)));
    if (sink->failed) state.SkipWithError("a request failed");
    report(state, __func__, static_cast<double>(state.iterations()) * kRequests, selfCpu() - cpu0, peakMemory());
    state.counters["start_rss_MB"] = startRss / 1e6;
    finishSession(session);
}

std::vector<std::string> curlGets(int count, std::int64_t inFlight) {
    return {"curl", "-s", "--parallel", "--parallel-max", std::to_string(inFlight), "--cacert", gCert,
            gBase + "/small?i=[1-" + std::to_string(count) + "]"};
}

// One reference process per round: every round starts cold. `name` keys the figures.
template <typename Run>
void processPerRound(benchmark::State& state, const std::string& name, Run run, const char* failure) {
    long rss = 0;
    double cpu = 0;
    for (auto _ : state) {
        const ProcessResult r = run();
        if (r.status != 0) state.SkipWithError(failure);
        rss = std::max(rss, r.peak);
        cpu += r.cpu;
    }
    report(state, name, static_cast<double>(state.iterations()) * kRequests, cpu, static_cast<double>(rss));
}

// One reference process for all rounds' requests, reusing its connections.
template <typename Run>
void processForAllRounds(benchmark::State& state, const std::string& name, Run run, const char* failure) {
    ProcessResult r;
    for (auto _ : state) {
        r = run();
        if (r.status != 0) state.SkipWithError(failure);
    }
    report(state, name, static_cast<double>(state.iterations()) * kRounds * kRequests,
           r.cpu * static_cast<double>(state.iterations()), static_cast<double>(r.peak));
}

void BM_Curl_SmallGetsCold(benchmark::State& state) {
    processPerRound(state, __func__, [&] { return runProcess(curlGets(kRequests, state.range(0))); }, "curl failed");
}

void BM_Curl_SmallGetsWarm(benchmark::State& state) {
    processForAllRounds(state, __func__, [&] { return runProcess(curlGets(kRounds * kRequests, state.range(0))); },
                        "curl failed");
}

// The multi-interface driver: `rounds` rounds of kRequests, all in one
// process, with the span of its transfers as it reports it.
ProcessResult curlMultiGets(std::int64_t inFlight, int rounds) {
    const std::string out = gDir + "/curl-multi-span.txt";
    ProcessResult r = runProcess({PELLIX_BENCH_CURL_MULTI_GETS, gBase + "/small", gCert, std::to_string(kRequests),
                                  std::to_string(inFlight), std::to_string(rounds)},
                                 out);
    std::ifstream in(out);
    std::string word;
    if (!(in >> word >> r.span >> r.spanCpu) || word != "span") r.status = -1;
    return r;
}

// The driver's rows time its transfers only, not its process's start-up,
// so they compare like with like with the session's rounds: the reference
// to quote. `rounds` rounds per process.
void curlMultiRows(benchmark::State& state, const std::string& name, int rounds) {
    long rss = 0;
    double cpu = 0;
    for (auto _ : state) {
        const ProcessResult r = curlMultiGets(state.range(0), rounds);
        if (r.status != 0) state.SkipWithError("the libcurl driver failed");
        state.SetIterationTime(r.span);
        rss = std::max(rss, r.peak);
        cpu += r.spanCpu;
    }
    report(state, name, static_cast<double>(state.iterations()) * rounds * kRequests, cpu, static_cast<double>(rss));
}

void BM_CurlMulti_SmallGetsCold(benchmark::State& state) { curlMultiRows(state, __func__, 1); }

// Its rounds run one after another over one multi handle, as the session's warm rows.
void BM_CurlMulti_SmallGetsWarm(benchmark::State& state) { curlMultiRows(state, __func__, kRounds); }

// One GiB through the session, as a data task (to memory) or a download task
// (to a file); `name` keys the memory figure.
template <typename StartTask>
void sessionGiB(benchmark::State& state, const std::string& name, StartTask start) {
    auto sink = std::make_shared<Sink>();
    auto session = makeSession(sink);
    URLRequest request(*URL::parse(gBase + "/bytes/" + std::to_string(kGiB)));
    resetPeakMemory();
    const double startRss = currentMemory();
    int count = 0;
    for (auto _ : state) {
        start(*session, request);
        sink->waitFor(++count);
    }
    if (sink->failed || sink->bytes != kGiB * count) state.SkipWithError("download failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kGiB);
    gMemory[name] = peakMemory();
    state.counters["peak_rss_MB"] = gMemory[name] / 1e6;
    state.counters["start_rss_MB"] = startRss / 1e6;
    finishSession(session);
}

void BM_Session_1GiBToMemory(benchmark::State& state) {
    sessionGiB(state, __func__, [](URLSession& s, const URLRequest& r) { s.dataTaskWithRequest(r)->resume(); });
}

void BM_Curl_1GiBToDevNull(benchmark::State& state) {
    long rss = 0;
    for (auto _ : state) {
        const ProcessResult r = runProcess({"curl", "-s", "--cacert", gCert, gBase + "/bytes/" + std::to_string(kGiB)});
        if (r.status != 0) state.SkipWithError("curl failed");
        rss = std::max(rss, r.peak);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kGiB);
    gMemory[std::string(__func__)] = static_cast<double>(rss);
    state.counters["peak_rss_MB"] = static_cast<double>(rss) / 1e6;
}

void BM_Session_1GiBToFile(benchmark::State& state) {
    sessionGiB(state, __func__, [](URLSession& s, const URLRequest& r) { s.downloadTaskWithRequest(r)->resume(); });
}

void BM_Curl_1GiBToFile(benchmark::State& state) {
    long rss = 0;
    std::string file = gDir + "/curl-download.bin";
    for (auto _ : state) {
        const ProcessResult r =
            runProcess({"curl", "-s", "--cacert", gCert, "-o", file, gBase + "/bytes/" + std::to_string(kGiB)});
        if (r.status != 0) state.SkipWithError("curl failed");
        std::filesystem::remove(file);
        rss = std::max(rss, r.peak);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kGiB);
    gMemory[std::string(__func__)] = static_cast<double>(rss);
    state.counters["peak_rss_MB"] = static_cast<double>(rss) / 1e6;
}

// Requests in flight; the curl tool caps its own --parallel-max at 300, the
// libcurl driver does not.
void inFlight(benchmark::internal::Benchmark* b) {
    for (int n : {10, 32, 100, kMaxInFlight}) b->Arg(n);
}

BENCHMARK(BM_Session_SmallGetsCold)->Apply(inFlight)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseRealTime();
BENCHMARK(BM_Curl_SmallGetsCold)->Apply(inFlight)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseRealTime();
BENCHMARK(BM_Session_SmallGetsWarm)->Apply(inFlight)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseRealTime();
BENCHMARK(BM_Curl_SmallGetsWarm)->Apply(inFlight)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_CurlMulti_SmallGetsCold)->Apply(inFlight)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();
BENCHMARK(BM_CurlMulti_SmallGetsWarm)->Apply(inFlight)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK(BM_Paired_SmallGetsCold)->Apply(inFlight)->Unit(benchmark::kMillisecond)->Iterations(2 * kRounds)->UseRealTime();
BENCHMARK(BM_Session_1GiBToMemory)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Curl_1GiBToDevNull)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Session_1GiBToFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Curl_1GiBToFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Keeps each run's rate for the ratio summary.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            std::string name = r.benchmark_name();
            name = name.substr(0, name.find("/iterations"));  // keeps the in-flight argument
            // With repetitions, the medians stand for the run.
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
            if (auto it = r.counters.find("requests/s"); it != r.counters.end()) gRate[name] = it->second;
            if (auto it = r.counters.find("bytes_per_second"); it != r.counters.end()) gRate[name] = it->second;
            if (auto it = r.counters.find("cpu_us/req"); it != r.counters.end()) gCpu[name] = it->second / 1e6;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!startServer()) {
        std::fprintf(stderr, "cannot start the HTTPS peer\n");
        stopServer();
        return 1;
    }
    Collector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    stopServer();
    auto ratio = [](const std::string& ours, const std::string& theirs, const std::string& what,
                    const char* reference = "curl") {
        auto a = gRate.find(ours), b = gRate.find(theirs);
        if (a == gRate.end() || b == gRate.end() || b->second == 0) return;
        const double unit = what.find("MB") != std::string::npos ? 1e6 : 1;
        std::printf("%-52s session %10.1f  %s %10.1f  ratio %.2f   peak RSS session %.1f MB, %s %.1f MB\n",
                    what.c_str(), a->second / unit, reference, b->second / unit, a->second / b->second,
                    gMemory[ours] / 1e6, reference, gMemory[theirs] / 1e6);
    };
    auto cpuRatio = [](const std::string& ours, const std::string& theirs, const std::string& what,
                       const char* reference) {
        if (gCpu.count(ours) && gCpu.count(theirs) && gCpu[theirs] > 0)
            std::printf("%-52s session %8.1f us  %s %8.1f us  ratio %.2f\n", what.c_str(), gCpu[ours] * 1e6,
                        reference, gCpu[theirs] * 1e6, gCpu[ours] / gCpu[theirs]);
    };
    std::printf("\n");
    for (int n : {10, 32, 100, kMaxInFlight}) {
        const std::string arg = "/" + std::to_string(n), label = " (" + std::to_string(n) + " in flight)";
        for (const char* kind : {"Cold", "Warm"}) {
            const std::string ours = std::string("BM_Session_SmallGets") + kind + arg;
            const std::string what = (std::string(kind) == "Cold" ? "cold" : "warm") + label;
            // The tool's rows, then the libcurl driver's; above 300 only the
            // driver has as many in flight as the session.
            const std::string tool = std::string("BM_Curl_SmallGets") + kind + arg,
                              multi = std::string("BM_CurlMulti_SmallGets") + kind + arg;
            const char* toolName = n > 300 ? "curl(300)" : "curl";
            ratio(ours, tool, what + " small GETs, requests/s", toolName);
            cpuRatio(ours, tool, what + " CPU per request", toolName);
            ratio(ours, multi, what + " small GETs, requests/s", "libcurl");
            cpuRatio(ours, multi, what + " CPU per request", "libcurl");
        }
    }
    ratio("BM_Session_1GiBToMemory", "BM_Curl_1GiBToDevNull", "1 GiB to memory, MB/s");
    ratio("BM_Session_1GiBToFile", "BM_Curl_1GiBToFile", "1 GiB to file, MB/s");
    benchmark::Shutdown();
    return 0;
}
