// What the SIP engine's benchmarks share: sipp as a child process, a
// registrar scenario, an engine pumped by the benchmark, and heap readings.
#pragma once

#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "SipEngineSDK/SipEngine.h"

extern char** environ;

namespace sipbench {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A registrar that accepts a registration and then its removal (one
// Call-ID for both) at once.
inline const char* const kRegistrarScenario = R"(<?xml version="1.0" encoding="UTF-8"?>
<scenario name="bench_registrar">
  <recv request="REGISTER"/>
  <send><![CDATA[
SIP/2.0 200 OK
[last_Via:]
[last_From:]
[last_To:];tag=[pid]reg[call_number]
[last_Call-ID:]
[last_CSeq:]
[last_Contact:]
Content-Length: 0

]]></send>
  <recv request="REGISTER"/>
  <send><![CDATA[
SIP/2.0 200 OK
[last_Via:]
[last_From:]
[last_To:];tag=[pid]reg[call_number]
[last_Call-ID:]
[last_CSeq:]
Content-Length: 0

]]></send>
</scenario>
)";

inline int freeUdpPort() {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// sipp as a child in its own folder, stopped by pid.
class Sipp {
public:
    Sipp(std::vector<std::string> args, const fs::path& dir) {
        args.insert(args.begin(), {"sipp", "-i", "127.0.0.1", "-nostdin"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, "sipp", &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    Sipp(const Sipp&) = delete;
    Sipp& operator=(const Sipp&) = delete;
    ~Sipp() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    void wait() {
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // True once it has ended (reaped without blocking).
    bool exited() {
        if (pid_ <= 0) return true;
        if (::waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
        pid_ = -1;
        return true;
    }

private:
    pid_t pid_ = -1;
};

struct Watch : client::CallStateObserver, client::RegistrationObserver {
    int state = -1;
    int registration = 0;   // 1 registered, 2 cleared, 3 failed
    Clock::time_point connectedAt{};   // when the host heard of state 6
    void OnCallStateChange(client::Call*, client::Call::CallState s) override {
        state = s;
        if (s == client::Call::kConnected) connectedAt = Clock::now();
    }
    void OnDtmf(client::Call*, const char*) override {}
    void OnMediaStreamUpdate(client::Call*, client::CallMediaStreamType, client::Call::MediaDirection) override {}
    void OnRegistrationProgress(client::SipProfile*) override {}
    void OnRegistrationSuccess(client::SipProfile*) override { registration = 1; }
    void OnRegistrationCleared(client::SipProfile*) override { registration = 2; }
    void OnRegistrationFailed(client::SipProfile*, int, const char*) override { registration = 3; }
};

struct Engine {
    client::Config config;
    client::SipEngine* engine = nullptr;
    Watch watch;
    Engine() {
        client::setText(config.transport.ipv4BindAddress, "127.0.0.1");
        config.transport.udpPort = 0;
        client::setText(config.media.audioCodecs, "g729,PCMU,PCMA");
        client::setText(config.media.videoCodecs, "H264");
        engine = client::SipEngineFactory::Create(config);
        engine->Initialize();
        engine->GetCallManager()->AddObserver(&watch);
        engine->GetRegistrationManager()->AddObserver(&watch);
    }
    ~Engine() { client::SipEngineFactory::Delete(engine); }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    template <typename F>
    bool pumpUntil(F done, double seconds = 10) {
        auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < deadline) {
            engine->ProcessEvents();
            if (done()) return true;
            std::this_thread::yield();
        }
        return false;
    }
    // Pumps on the SDK's timer until sofia has let go of every finished
    // transaction (SIP keeps them up to 32 s to absorb retransmissions).
    void settle() {
        auto deadline = Clock::now() + std::chrono::seconds(35);
        while (Clock::now() < deadline) {
            engine->ProcessEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    // One call to the UAS: set-up time in ms, or -1.
    double call(client::SipProfile* profile) {
        watch.state = -1;
        auto start = Clock::now();
        client::Call* c = engine->GetCallManager()->MakeCall(profile, "service", "", false, 1, false, 0, {});
        if (!c || !pumpUntil([&] { return watch.state == 6 || watch.state == 2 || watch.state == 3; })) return -1;
        if (watch.state != 6) return -1;
        double ms = std::chrono::duration<double, std::milli>(watch.connectedAt - start).count();
        c->Hangup();
        pumpUntil([&] { return watch.state == 7; });
        engine->ProcessEvents();
        return ms;
    }
};

// In use in the arenas and in chunks mapped on their own.
inline long heapInUseKb() {
    auto m = mallinfo2();
    return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

inline long rssKb() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace sipbench
