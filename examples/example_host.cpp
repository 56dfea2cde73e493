// The example host: a small program that uses the library the way a
// resident's app would. It grows with the library.
//
// Usage: pellix_example [platform-port home-folder]
// With a port it registers with the platform at https://127.0.0.1:<port>,
// logs the test resident in, prints the user record and logs out.
#include <atomic>
#include <cstdio>
#include <memory>
#include <cstdlib>
#include <string>

#include "PellixClient/PellixSDKVersion.h"
#include "PellixDataManager/PellixDataManager.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"

using namespace pellix;
using namespace pellix::platform;

namespace {

void printUser(const PellixInitUserInfo& user) {
    auto show = [](const char* name, const PellixText& value) {
        std::printf("  %-18s %s\n", name, value ? value->c_str() : "(none)");
    };
    std::printf("user record:\n");
    show("open_id", user.open_id());
    show("user_id", user.user_id());
    show("sip_no", user.sip_no());
    show("sip_domain", user.sip_domain());
    show("mqtt_host", user.mqtt_host());
    show("mqtt_port", user.mqtt_port());
    show("hos_endpoint", user.hos_endpoint());
    show("hos_bucket", user.hos_bucket());
    std::string topics;
    for (const auto& t : user.topic().value_or(std::vector<std::string>{})) topics += (topics.empty() ? "" : ", ") + t;
    std::printf("  %-18s %s\n", "topic", topics.c_str());
}

bool reportStep(const char* step, bool ok, const PellixErrorPtr& error) {
    if (ok) {
        std::printf("%s: ok\n", step);
    } else {
        std::printf("%s: failed %lld %s\n", step, static_cast<long long>(error ? error->errorCode() : 0),
                    error && error->message() ? error->message()->c_str() : "");
    }
    std::fflush(stdout);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // This host has no event loop of its own: the library runs the main loop.
    RunLoop::startMainLoopThread();

    auto done = DispatchSemaphore::create(0);
    // Shared with the blocks, which may outlive a wait that timed out.
    auto ok = std::make_shared<std::atomic<bool>>(true);
    DispatchQueue::main()->async([] {
        std::printf("Pellix SDK %.1f\n", PellixSDKVersionNumber);
        std::fflush(stdout);
    });

    if (argc >= 3) {
        Paths::setHomeDirectory(argv[2]);
        const std::string base = "https://127.0.0.1:" + std::string(argv[1]);
        PellixGlobleConfig::setEnvironment(2, {base, "127.0.0.1", 1883});

        *ok = false;
        DispatchQueue::main()->async([done, ok] {
            PellixDataManager::registSDKWithAppId(
                std::string("px-test-app-0001"), std::string("px-test-secret-5f3c2a9d"), nullptr,
                [done, ok](bool registered, const PellixErrorPtr& error) {
                    if (!reportStep("register", registered, error)) {
                        done->signal();
                        return;
                    }
                    PellixDataManager::loginSDKWithNationCode(
                        std::string("86"), std::string("13800138000"), std::nullopt,
                        [done, ok](bool loggedIn, const PellixErrorPtr& error) {
                            if (!reportStep("login", loggedIn, error)) {
                                done->signal();
                                return;
                            }
                            if (auto user = PellixProxyInfo::sharedInstance()->userInfo()) printUser(*user);
                            PellixDataManager::loginoutWithCompletion([done, ok](bool out, const PellixErrorPtr& error) {
                                *ok = reportStep("logout", out, error);
                                done->signal();
                            });
                        });
                });
        });
    } else {
        DispatchQueue::main()->async([done] { done->signal(); });
    }
    const bool finished = done->waitSeconds(30);

    RunLoop::stopMainLoopThread();
    return finished && *ok ? 0 : 1;
}
