// The storage client against curl, side by side, through one object-store
// stand-in (tests/peers/hos) on loopback, CRC-64 checking on for the client:
// - a 1 GiB upload from a file (curl -T into a public-read-write bucket);
// - a 1 GiB download to memory (curl: to /dev/null) and to a file.
// Reports MB/s of each side, the ratio client / curl, and the client's
// resident-memory growth during each transfer (sampled every 5 ms). The
// curl figures include starting its process. Numbers from a shared machine
// are noisy: compare ratios from the same run only.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
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
std::map<std::string, double> gRate;

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

void report(benchmark::State& state, const std::string& name, double seconds, double growth) {
    state.SetIterationTime(seconds);
    gRate[name] = kGiB / seconds;
    state.counters["MB/s"] = kGiB / seconds / 1e6;
    if (growth >= 0) state.counters["RSS+MB"] = growth / 1e6;
    const auto slash = name.find('/');
    const std::string curlName = "curl" + name.substr(slash);
    if (name.rfind("client", 0) == 0 && gRate.count(curlName))
        state.counters["x_curl"] = gRate[name] / gRate[curlName];
}

template <class F>
double timed(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_CurlUploadFromFile(benchmark::State& state) {
    for (auto _ : state) {
        const std::string url = "http://127.0.0.1:" + std::to_string(gHos.port) + "/" + kBucket + "/curl-up";
        double s = timed([&] {
            if (run({"curl", "-sf", "-T", gHos.source, url}) != 0) state.SkipWithError("curl upload failed");
        });
        report(state, "curl/upload", s, -1);
    }
}

// One client transfer, timed and with its resident-memory growth.
void clientRun(benchmark::State& state, const std::string& name,
               const std::function<HOSTaskPtr(HOSClient&)>& transfer) {
    auto client = gHos.client();
    for (auto _ : state) {
        double s = 0;
        double growth = residentGrowthDuring([&] { s = timed([&] { waitTask(transfer(*client), state); }); });
        report(state, name, s, growth);
    }
}

std::shared_ptr<HOSGetObjectRequest> getRequest() {
    auto request = std::make_shared<HOSGetObjectRequest>();
    request->setBucketName(kBucket);
    request->setObjectKey("object");
    return request;
}

void BM_ClientUploadFromFile(benchmark::State& state) {
    clientRun(state, "client/upload", [](HOSClient& client) {
        auto request = std::make_shared<HOSPutObjectRequest>();
        request->setBucketName(kBucket);
        request->setObjectKey("object");
        request->setUploadingFileURL(platform::URL::fileURL(gHos.source));
        return client.putObject(request);
    });
}

void BM_CurlDownloadToMemory(benchmark::State& state) {
    for (auto _ : state) {
        const std::string url = "http://127.0.0.1:" + std::to_string(gHos.port) + "/" + kBucket + "/object";
        double s = timed([&] {
            if (run({"curl", "-sf", "-o", "/dev/null", url}) != 0) state.SkipWithError("curl download failed");
        });
        report(state, "curl/memory", s, -1);
    }
}

void BM_ClientDownloadToMemory(benchmark::State& state) {
    clientRun(state, "client/memory", [](HOSClient& client) { return client.getObject(getRequest()); });
}

void BM_CurlDownloadToFile(benchmark::State& state) {
    for (auto _ : state) {
        const std::string url = "http://127.0.0.1:" + std::to_string(gHos.port) + "/" + kBucket + "/object";
        double s = timed([&] {
            if (run({"curl", "-sf", "-o", gHos.dir + "/curl-down.bin", url}) != 0)
                state.SkipWithError("curl download failed");
        });
        std::filesystem::remove(gHos.dir + "/curl-down.bin");
        report(state, "curl/file", s, -1);
    }
}

void BM_ClientDownloadToFile(benchmark::State& state) {
    clientRun(state, "client/file", [](HOSClient& client) {
        std::filesystem::remove(gHos.dir + "/client-down.bin");
        auto request = getRequest();
        request->setDownloadToFileURL(platform::URL::fileURL(gHos.dir + "/client-down.bin"));
        return client.getObject(request);
    });
}

// Upload first: the downloads read the object it leaves.
BENCHMARK(BM_CurlUploadFromFile)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClientUploadFromFile)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlDownloadToMemory)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClientDownloadToMemory)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlDownloadToFile)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClientDownloadToFile)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return pellix::bench::runAgainstStandIn(argc, argv, gHos, startStandIn); }
