// The route watcher that cannot subscribe to the kernel's announcements is
// reported, and the manager carries on with the verdict it read at once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "PellixLog/PellixLog.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "platform/Log.h"

namespace pellix {
namespace {

TEST(ReachabilityWatch, AWatcherThatCannotSubscribeIsLogged) {
    EXPECT_EXIT(
        {
            PellixLog::enableLog();
            SipEngineManager::setReachabilityHostName("localhost");
            std::vector<std::string> lines;
            platform::Log::setSink([&](std::string_view l) { lines.emplace_back(l); });
            // No descriptor is left to open: the watcher's netlink socket fails.
            const int free = ::open("/dev/null", O_RDONLY);
            ::close(free);
            rlimit limit{};
            ::getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = static_cast<rlim_t>(free);
            ::setrlimit(RLIMIT_NOFILE, &limit);
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
