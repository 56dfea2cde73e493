// Helpers shared by the test programs: temporary folders, free loopback
// ports and child processes (the real peers the tests start and stop).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pellix::test {

// Root of the source tree and of the build tree, for fixtures and peers.
std::string sourceDir();
std::string buildDir();

// A fresh folder under $TMPDIR, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int freePort();
// Whether a UDP port on 127.0.0.1 can be bound right now (a peer told to
// listen there has not bound it yet, or has let it go).
bool udpPortFree(int port);

// The IPv4 UDP sockets this process holds, read from /proc: the socket's
// inode, its local address (network order, as /proc prints it) and port.
struct OwnUdpSocket {
    std::string inode;
    std::uint32_t address = 0;
    int port = 0;
};
std::vector<OwnUdpSocket> ownUdpSockets();

// A listening socket on 127.0.0.1 at a port the kernel picks (stored in
// `port`); throws std::runtime_error when it cannot listen.
int listenLoopback(int& port, int backlog = 16);

// Reads and writes whole files; throw std::runtime_error on failure.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// A child process with its stdout and stderr captured into files. The
// destructor sends SIGTERM, then SIGKILL after a grace period, and reaps it.
// The child leads a process group of its own and is killed by the kernel
// when the thread that started it ends, so a peer never outlives its test
// program: start peers from the test's own thread (or one that lives as
// long as the peer), not from a short-lived helper thread.
class Process {
public:
    // argv[0] is looked up in PATH. Extra environment entries are added to ours.
    explicit Process(std::vector<std::string> argv, std::map<std::string, std::string> env = {},
                     std::string workdir = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    int pid() const { return pid_; }
    bool running();
    // Waits until the captured stdout (or stderr) holds a line matching the
    // ECMAScript regex; returns its first capture group, or the whole line.
    std::optional<std::string> waitForLine(const std::string& regex,
                                           std::chrono::milliseconds timeout = std::chrono::seconds(15),
                                           bool fromStderr = false);
    std::string output() const;      // stdout so far
    std::string errorOutput() const; // stderr so far
    void stop();                     // terminate and reap now
    int wait();                      // wait for exit; the exit status, or -signal

private:
    int pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    std::string outPath_, errPath_;
    TempDir dir_;
};

// Waits until something accepts TCP connections on 127.0.0.1:port.
bool waitForPort(int port, std::chrono::milliseconds timeout = std::chrono::seconds(15));

// Runs a shell command and returns its exit status; output goes to the test log.
int run(const std::string& command);

// Re-runs this test program inside a private network namespace of its own
// (`unshare -rn`, as root of a new user namespace, plus `extraUnshareFlags`
// such as "-m" for a private mount namespace), running only the tests that
// `gtestFilter` selects, with `env` added to the environment. No route or
// packet of the child ever reaches the host's network.
struct NamespaceRun {
    std::string skipReason;  // non-empty: namespaces (or veth links) are not permitted here
    int status = -1;         // the child's exit status
    std::string output;      // its stdout and stderr
    bool passed() const { return status == 0 && output.find("[  PASSED  ]") != std::string::npos; }
};
NamespaceRun runSelfInPrivateNetworkNamespace(const std::string& gtestFilter, std::map<std::string, std::string> env,
                                              std::vector<std::string> extraUnshareFlags = {});

}  // namespace pellix::test
