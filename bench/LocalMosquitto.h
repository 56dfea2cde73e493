// LocalMosquitto: a mosquitto for one benchmark program, on a free loopback
// port, with persistence off and no per-client flight or queue limits; its
// folder is removed when it stops. Not thread-safe: start and stop it from
// main().
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace pellix::bench {

class LocalMosquitto {
public:
    ~LocalMosquitto() { stop(); }

    // Starts the broker and waits (up to 5 s) until it accepts connections.
    bool start() {
        char tmpl[] = "/tmp/pellix-bench-mqtt-XXXXXX";
        if (!mkdtemp(tmpl)) return false;
        dir_ = tmpl;
        port_ = freePort();
        const std::string conf = dir_ + "/mosquitto.conf";
        std::ofstream(conf) << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\npersistence false\n"
                            << "log_type error\nuser root\nmax_inflight_messages 0\nmax_queued_messages 0\n";
        std::vector<std::string> args{"mosquitto", "-c", conf};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "mosquitto", nullptr, nullptr, argv.data(), environ) != 0) return false;
        for (int i = 0; i < 500; ++i) {
            if (portOpen(port_)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
        dir_.clear();
    }

    int port() const { return port_; }

private:
    static int freePort() {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        ::close(fd);
        return ntohs(addr.sin_port);
    }

    static bool portOpen(int port) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
    }

    pid_t pid_ = -1;
    int port_ = 0;
    std::string dir_;
};

}  // namespace pellix::bench
