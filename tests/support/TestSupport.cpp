#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace pellix::test {

std::string sourceDir() {
    if (const char* s = std::getenv("PELLIX_SOURCE_DIR")) return s;
    return PELLIX_SOURCE_DIR;
}

std::string buildDir() {
    if (const char* s = std::getenv("PELLIX_BUILD_DIR")) return s;
    return PELLIX_BUILD_DIR;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/pellix-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool udpPortFree(int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return free;
}

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

int listenLoopback(int& port, int backlog) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("short write to " + path);
}

Process::Process(std::vector<std::string> argv, std::map<std::string, std::string> env, std::string workdir) {
    outPath_ = dir_.file("stdout");
    errPath_ = dir_.file("stderr");
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto key = kv.substr(0, kv.find('='));
        if (!env.count(key)) envStrings.push_back(kv);
    }
    for (auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::setpgid(0, 0);
        // The peer ends with the test program however that ends (a crash or
        // a kill included), not only through stop(): the kernel kills it
        // when the thread that forked it goes. A parent already gone before
        // this line would never send the signal.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) _exit(125);
        int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (!workdir.empty() && ::chdir(workdir.c_str()) != 0) _exit(126);
        environ = envp.data();
        ::execvp(args[0], args.data());
        _exit(127);
    }
}

Process::~Process() { stop(); }

bool Process::running() {
    if (reaped_) return false;
    int st = 0;
    pid_t r = ::waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        reaped_ = true;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
        return false;
    }
    return true;
}

std::string Process::output() const {
    try { return readFile(outPath_); } catch (...) { return {}; }
}

std::string Process::errorOutput() const {
    try { return readFile(errPath_); } catch (...) { return {}; }
}

std::optional<std::string> Process::waitForLine(const std::string& regex, std::chrono::milliseconds timeout,
                                                bool fromStderr) {
    std::regex re(regex);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::istringstream lines(fromStderr ? errorOutput() : output());
        std::string line;
        while (std::getline(lines, line)) {
            std::smatch m;
            if (std::regex_search(line, m, re)) return m.size() > 1 ? m[1].str() : m[0].str();
        }
        if (!running() || std::chrono::steady_clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void Process::stop() {
    if (pid_ <= 0 || reaped_) return;
    ::kill(-pid_, SIGTERM);
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 150 && running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (running()) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        wait();
    }
}

int Process::wait() {
    if (!reaped_) {
        int st = 0;
        while (::waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
    }
    return status_;
}

bool waitForPort(int port, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int run(const std::string& command) {
    int st = std::system(command.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

NamespaceRun runSelfInPrivateNetworkNamespace(const std::string& gtestFilter, std::map<std::string, std::string> env,
                                              std::vector<std::string> extraUnshareFlags) {
    NamespaceRun result;
    std::string flags = "-rn";
    for (const auto& f : extraUnshareFlags) flags += " " + f;
    if (run("unshare " + flags + " true >/dev/null 2>&1") != 0) {
        result.skipReason = "network namespaces are not permitted here (unshare " + flags + " failed)";
        return result;
    }
    if (run("unshare -rn ip link add probe0 type veth peer name probe1 >/dev/null 2>&1") != 0) {
        result.skipReason = "veth links cannot be made in a private namespace here";
        return result;
    }
    char self[4096] = {};
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) throw std::runtime_error("cannot read /proc/self/exe");
    std::vector<std::string> argv = {"unshare", "-rn"};
    argv.insert(argv.end(), extraUnshareFlags.begin(), extraUnshareFlags.end());
    argv.push_back(self);
    argv.push_back("--gtest_filter=" + gtestFilter);
    Process child(argv, std::move(env));
    result.status = child.wait();
    result.output = child.output() + child.errorOutput();
    return result;
}


std::vector<OwnUdpSocket> ownUdpSockets() {
    std::set<std::string> own;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(fds)) {
            char target[128] = {};
            std::string path = std::string("/proc/self/fd/") + e->d_name;
            auto n = ::readlink(path.c_str(), target, sizeof target - 1);
            std::string t(target, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (t.rfind("socket:[", 0) == 0) own.insert(t.substr(8, t.size() - 9));
        }
        ::closedir(fds);
    }
    std::vector<OwnUdpSocket> out;
    std::ifstream udp("/proc/self/net/udp");
    std::string line;
    std::getline(udp, line);
    while (std::getline(udp, line)) {
        std::istringstream in(line);
        std::string slot, local, remote, st, queues, timer, retr, uid, timeout, inode;
        in >> slot >> local >> remote >> st >> queues >> timer >> retr >> uid >> timeout >> inode;
        const auto colon = local.find(':');
        if (colon == std::string::npos || !own.count(inode)) continue;
        out.push_back({inode, static_cast<std::uint32_t>(std::stoul(local.substr(0, colon), nullptr, 16)),
                       std::stoi(local.substr(colon + 1), nullptr, 16)});
    }
    return out;
}

}  // namespace pellix::test
