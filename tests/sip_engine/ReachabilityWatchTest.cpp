// The route watcher that cannot subscribe to the kernel's announcements is
// reported, and the manager carries on with the verdict it read at once.
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "PellixLog/PellixLog.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "platform/Log.h"

namespace pellix {
namespace {

// From here on this process cannot open netlink sockets (EAFNOSUPPORT), as
// on a kernel without them; every other call is left alone.
bool refuseNetlinkSockets() {
#if defined(__x86_64__)
    constexpr std::uint32_t arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr std::uint32_t arch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAFNOSUPPORT & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
}

// The child exits with 1 when the line is missing, 2 when netlink could not
// be taken away from it.
TEST(ReachabilityWatch, AWatcherThatCannotSubscribeIsLogged) {
    // The child starts afresh rather than as a fork of a process whose
    // threads (earlier tests', the sanitizers') may hold locks it needs.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PellixLog::enableLog();
            SipEngineManager::setReachabilityHostName("localhost");
            std::vector<std::string> lines;
            platform::Log::setSink([&](std::string_view l) { lines.emplace_back(l); });
            if (!refuseNetlinkSockets()) std::_Exit(2);
            SipEngineManager::sharedInstance()->configureProxyReachability();
            platform::Log::setSink(nullptr);
            const bool logged = std::count(lines.begin(), lines.end(),
                                           "[PellixSDK Debug]: Cannot register reachability cb") == 1;
            std::_Exit(logged ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace pellix
