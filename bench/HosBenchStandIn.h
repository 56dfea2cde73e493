// The object-store stand-in (tests/peers/hos) for the storage benchmarks: one
// node process on loopback over a throw-away folder, a 1 GiB source file of a
// known pattern beside it, and a CRC-64-checking client pointed at it.
#pragma once

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <any>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "HOSSDK/HOSClient.h"
#include "HOSSDK/HOSNetworkingRequestDelegate.h"
#include "LoggedPeer.h"

namespace pellix::bench {

class HosBenchStandIn {
public:
    static constexpr std::int64_t kGiB = 1ll << 30;
    static constexpr const char* kDomain = "test.hos.halvane.com";

    std::string dir, source, keyId, secret;
    int port = 0;

    // Starts the server in a new folder named after `prefix`, with `extra`
    // arguments; false when it did not come up.
    bool start(const std::string& prefix, const std::vector<std::string>& extra = {}) {
        std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
        if (!mkdtemp(tmpl.data())) return false;
        dir = tmpl;
        const std::string log = dir + "/server.out";
        std::filesystem::create_directories(dir + "/store");
        std::vector<std::string> args{"node", sourceDir() + "/tests/peers/hos/server.js", "--port", "0", "--dir",
                                      dir + "/store"};
        args.insert(args.end(), extra.begin(), extra.end());
        server_ = spawnWithLog(args, log);
        if (server_ < 0) return false;
        const std::regex line(R"re("http":(\d+).*"accessKeyId":"([^"]+)","accessKeySecret":"([^"]+)")re");
        if (auto m = waitForLogLine(log, line, 300)) {
            port = std::stoi((*m)[1]);
            keyId = (*m)[2];
            secret = (*m)[3];
        }
        return port != 0;
    }

    // Writes the 1 GiB source file both sides move.
    bool writeSource() {
        source = dir + "/source.bin";
        std::ofstream out(source, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
        for (int i = 0; i < 1024; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
        return static_cast<bool>(out);
    }

    std::unique_ptr<HOSClient> client() const {
        HOSNetworkingRequestDelegate::setHostResolver([](const std::string&) { return std::string("127.0.0.1"); });
        auto configuration = std::make_shared<HOSClientConfiguration>();
        configuration->setCrc64Verifiable(true);
        configuration->setTimeoutIntervalForRequest(120);
        return std::make_unique<HOSClient>(std::string("http://") + kDomain + ":" + std::to_string(port),
                                           std::make_shared<HOSPlainTextAKSKPairCredentialProvider>(keyId, secret),
                                           configuration);
    }

    void stop() {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
            server_ = -1;
        }
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }

private:
    pid_t server_ = -1;
};

// Waits for a storage task; its error, if any, fails the benchmark.
inline void waitTask(const HOSTaskPtr& task, benchmark::State& state) {
    std::promise<void> done;
    task->continueWithBlock([&](const HOSTaskPtr&) -> std::any {
        done.set_value();
        return std::any();
    });
    done.get_future().wait();
    if (task->error()) state.SkipWithError(task->error()->description().c_str());
}

// A benchmark program's main: brings the stand-in up with `start`, runs the
// benchmarks, takes it down.
inline int runAgainstStandIn(int argc, char** argv, HosBenchStandIn& hos, const std::function<bool()>& start) {
    benchmark::Initialize(&argc, argv);
    if (!start()) {
        std::fprintf(stderr, "the storage stand-in did not start\n");
        hos.stop();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    hos.stop();
    return 0;
}

}  // namespace pellix::bench
