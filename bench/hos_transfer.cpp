// The storage client against curl, side by side, through one object-store
// stand-in (tests/peers/hos) on loopback, CRC-64 checking on for the client:
// - a 1 GiB upload from a file (curl -T into a public-read-write bucket);
// - a 1 GiB download to memory (curl: to /dev/null) and to a file.
// Each row runs both sides in turn within each iteration, the side that
// goes first alternating. Reports MB/s of each side, the ratio client / curl
// ("x_curl", of the rates), and the client's resident-memory growth during
// its transfers (sampled every 5 ms). The curl figures include starting its
// process (a few milliseconds against seconds of transfer).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "HOSSDK/HOSClient.h"
#include "HOSSDK/HOSNetworkingRequestDelegate.h"
#include "HosBenchStandIn.h"

extern char** environ;

using namespace pellix;

namespace {

constexpr std::int64_t kGiB = pellix::bench::HosBenchStandIn::kGiB;
constexpr const char* kBucket = "bench";

pellix::bench::HosBenchStandIn gHos;
using pellix::bench::waitTask;

double residentBytes() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) * 1024;
    return 0;
}

// Samples this process's resident memory while `work` runs; returns the
// largest growth over the starting figure.
double residentGrowthDuring(const std::function<void()>& work) {
    const double base = residentBytes();
    std::atomic<bool> done{false};
    double peak = base;
    std::thread sampler([&] {
        while (!done) {
            peak = std::max(peak, residentBytes());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    work();
    done = true;
    sampler.join();
    return peak - base;
}

int run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool startStandIn() {
    if (!gHos.start("pellix-hos-bench")) return false;
    // Anonymous reads and writes, so curl moves the same bytes unsigned.
    const std::string admin = "http://127.0.0.1:" + std::to_string(gHos.port) + "/__admin/buckets";
    if (run({"curl", "-sf", "-X", "POST", "-H", "Content-Type: application/json", "-d",
             std::string(R"({"name":")") + kBucket + R"(","acl":"public-read-write"})", admin}) != 0)
        return false;
    return gHos.writeSource();
}

template <class F>
double timed(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string objectUrl(const std::string& key) {
    return "http://127.0.0.1:" + std::to_string(gHos.port) + "/" + kBucket + "/" + key;
}

// One transfer of each side per iteration, the side that goes first
// alternating, so that a change in the machine's load falls on both alike.
// `curl` and `client` each do one transfer and return whether it worked.
// Counters: MB/s of each side, "x_curl" (client rate / curl rate) and the
// client's largest resident-memory growth during a transfer.
void pairedTransfers(benchmark::State& state, const std::function<bool()>& curl, const std::function<bool()>& client) {
    double curlSeconds = 0, clientSeconds = 0, growth = 0;
    bool clientFirst = false;
    for (auto _ : state) {
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == clientFirst) {
                bool ok = true;
                growth = std::max(growth, residentGrowthDuring([&] { clientSeconds += timed([&] { ok = client(); }); }));
                if (!ok) state.SkipWithError("client transfer failed");
            } else {
                bool ok = true;
                curlSeconds += timed([&] { ok = curl(); });
                if (!ok) state.SkipWithError("curl failed");
            }
        }
        clientFirst = !clientFirst;
    }
    const auto n = static_cast<double>(state.iterations());
    state.SetIterationTime((curlSeconds + clientSeconds) / n);
    state.counters["client_MB/s"] = kGiB * n / clientSeconds / 1e6;
    state.counters["curl_MB/s"] = kGiB * n / curlSeconds / 1e6;
    state.counters["x_curl"] = curlSeconds / clientSeconds;
    state.counters["RSS+MB"] = growth / 1e6;
}

std::shared_ptr<HOSGetObjectRequest> getRequest() {
    auto request = std::make_shared<HOSGetObjectRequest>();
    request->setBucketName(kBucket);
    request->setObjectKey("object");
    return request;
}

bool clientDid(benchmark::State& state, const HOSTaskPtr& task) {
    waitTask(task, state);
    return !state.error_occurred();
}

void BM_UploadFromFile(benchmark::State& state) {
    auto client = gHos.client();
    pairedTransfers(
        state, [] { return run({"curl", "-sf", "-T", gHos.source, objectUrl("curl-up")}) == 0; },
        [&] {
            auto request = std::make_shared<HOSPutObjectRequest>();
            request->setBucketName(kBucket);
            request->setObjectKey("object");
            request->setUploadingFileURL(platform::URL::fileURL(gHos.source));
            return clientDid(state, client->putObject(request));
        });
}

void BM_DownloadToMemory(benchmark::State& state) {
    auto client = gHos.client();
    pairedTransfers(
        state, [] { return run({"curl", "-sf", "-o", "/dev/null", objectUrl("object")}) == 0; },
        [&] { return clientDid(state, client->getObject(getRequest())); });
}

void BM_DownloadToFile(benchmark::State& state) {
    auto client = gHos.client();
    pairedTransfers(
        state,
        [] {
            const bool ok = run({"curl", "-sf", "-o", gHos.dir + "/curl-down.bin", objectUrl("object")}) == 0;
            std::filesystem::remove(gHos.dir + "/curl-down.bin");
            return ok;
        },
        [&] {
            std::filesystem::remove(gHos.dir + "/client-down.bin");
            auto request = getRequest();
            request->setDownloadToFileURL(platform::URL::fileURL(gHos.dir + "/client-down.bin"));
            return clientDid(state, client->getObject(request));
        });
}

// Upload first: the downloads read the object it leaves. Two iterations, so
// each side goes first once.
BENCHMARK(BM_UploadFromFile)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadToMemory)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadToFile)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return pellix::bench::runAgainstStandIn(argc, argv, gHos, startStandIn); }
