// The storage client's resumable upload next to its plain put, through one
// object-store stand-in (tests/peers/hos) on loopback, CRC-64 checking on:
// - a 1 GiB plain put of a file;
// - a 1 GiB resumable upload of the same file with a part size of 214748
//   bytes, which would need 5,001 parts and so is sent as exactly 5,000
//   (the last one carrying the remainder), recording every part's CRC-64 in
//   the part-information file and folding them into the whole object's.
// Reports MB/s of each and the ratio resumable / plain.
//
// Then the cost of recording one finished part in the part-information file,
// for 5,000 parts in a row: the journal (one appended line per part) next to
// rewriting the whole file per part (an atomic replacement of the property
// list, as a file of all parts so far), in microseconds per part at
// different part numbers. The journal's figure should not grow with the
// part number; the rewrite's does. Numbers from a shared machine are noisy:
// compare figures from the same run only.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "HOSSDK/HOSClient.h"
#include "HOSSDK/HOSNetworkingRequestDelegate.h"
#include "HOSSDK/HOSPartInfoStore.h"
#include "HosBenchStandIn.h"
#include "platform/KeyedArchive.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"

using namespace pellix;

namespace {

constexpr std::int64_t kGiB = pellix::bench::HosBenchStandIn::kGiB;
constexpr std::uint64_t kPartSize = 214748;  // 1 GiB / 5000, rounded down
constexpr int kParts = 5000;
constexpr const char* kBucket = "bench";

pellix::bench::HosBenchStandIn gHos;
std::map<std::string, double> gSeconds;
using pellix::bench::waitTask;

// Part-information files go under the documents directory of a home in the
// stand-in's folder.
bool startStandIn() {
    if (!gHos.start("pellix-hos-resumable", {"--bucket", kBucket})) return false;
    std::filesystem::create_directories(gHos.dir + "/home");
    platform::Paths::setHomeDirectory(gHos.dir + "/home");
    return gHos.writeSource();
}

template <class F>
double timed(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(benchmark::State& state, const std::string& name, double seconds) {
    state.SetIterationTime(seconds);
    gSeconds[name] = seconds;
    state.counters["MB/s"] = kGiB / seconds / 1e6;
    if (name == "resumable" && gSeconds.count("put")) state.counters["x_put"] = seconds / gSeconds["put"];
}

void BM_PlainPut(benchmark::State& state) {
    auto client = gHos.client();
    for (auto _ : state) {
        auto request = std::make_shared<HOSPutObjectRequest>();
        request->setBucketName(kBucket);
        request->setObjectKey("plain");
        request->setUploadingFileURL(platform::URL::fileURL(gHos.source));
        report(state, "put", timed([&] { waitTask(client->putObject(request), state); }));
    }
}

void BM_ResumableUpload5000Parts(benchmark::State& state) {
    auto client = gHos.client();
    for (auto _ : state) {
        std::filesystem::create_directories(gHos.dir + "/records");
        auto request = std::make_shared<HOSResumableUploadRequest>();
        request->setBucketName(kBucket);
        request->setObjectKey("resumable");
        request->setUploadingFileURL(platform::URL::fileURL(gHos.source));
        request->setPartSize(kPartSize);
        request->setRecordDirectoryPath(gHos.dir + "/records");
        int parts = 0;
        request->setUploadProgress([&](std::int64_t, std::int64_t, std::int64_t) { ++parts; });
        report(state, "resumable", timed([&] { waitTask(client->resumableUpload(request), state); }));
        state.counters["parts"] = parts;
    }
}

// The parts of the resumable run, as the engine records them.
HOSPartInfo partOf(int n) {
    return HOSPartInfo(n, "\"0123456789ABCDEF0123456789ABCDEF\"", std::int64_t(kPartSize),
                       0x9E3779B97F4A7C15ull * std::uint64_t(n));
}

// Microseconds per part over windows of part numbers.
void windows(benchmark::State& state, const std::vector<double>& perPart) {
    for (int from : {1, 1001, 2501, 4501}) {
        double sum = 0;
        int n = 0;
        for (int i = from; i < from + 500 && i <= int(perPart.size()); ++i, ++n) sum += perPart[std::size_t(i - 1)];
        if (n) state.counters["us@" + std::to_string(from)] = sum / n * 1e6;
    }
}

void BM_PartInfoJournalPerPart(benchmark::State& state) {
    for (auto _ : state) {
        const std::string path = gHos.dir + "/journal-bench";
        HOSPartInfoStore::remove(path);
        HOSPartInfoStore store(path);
        store.open();
        std::vector<double> perPart;
        perPart.reserve(kParts);
        double total = 0;
        for (int n = 1; n <= kParts; ++n) {
            const double s = timed([&] { store.record(partOf(n)); });
            perPart.push_back(s);
            total += s;
        }
        const double fold = timed([&] { store.close(); });
        state.SetIterationTime(total + fold);
        windows(state, perPart);
        state.counters["close_ms"] = fold * 1e3;
        HOSPartInfoStore::remove(path);
    }
}

// The whole file rewritten atomically per part. Sampled: 50 parts at each
// window, with the dictionary of all parts before them in place.
void BM_PartInfoRewritePerPart(benchmark::State& state) {
    for (auto _ : state) {
        const std::string path = gHos.dir + "/rewrite-bench";
        std::vector<double> perPart(kParts, 0);
        double total = 0;
        for (int from : {1, 1001, 2501, 4501}) {
            platform::Dictionary parts;
            for (int n = 1; n < from; ++n) parts.append(std::to_string(n), HOSPartInfoStore::entryOf(partOf(n)));
            for (int n = from; n < from + 50; ++n) {
                const double s = timed([&] {
                    parts.set(std::to_string(n), HOSPartInfoStore::entryOf(partOf(n)));
                    auto bytes = platform::PropertyList::write(platform::Value(parts),
                                                               platform::PropertyList::Format::XML);
                    platform::KeyedArchive::writeFileAtomically(path, *bytes);
                });
                perPart[std::size_t(n - 1)] = s;
                total += s;
            }
        }
        state.SetIterationTime(total);
        for (int from : {1, 1001, 2501, 4501}) {
            double sum = 0;
            for (int n = from; n < from + 50; ++n) sum += perPart[std::size_t(n - 1)];
            state.counters["us@" + std::to_string(from)] = sum / 50 * 1e6;
        }
        std::filesystem::remove(path);
    }
}

BENCHMARK(BM_PlainPut)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResumableUpload5000Parts)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartInfoJournalPerPart)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartInfoRewritePerPart)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return pellix::bench::runAgainstStandIn(argc, argv, gHos, startStandIn); }
