// The example host: a small program that uses the library the way a
// resident's app would. It grows with the library.
//
// Usage: pellix_example [platform-port home-folder [mqtt-port]]
// With a port it registers with the platform at https://127.0.0.1:<port>,
// logs the test resident in and prints the user record. With an MQTT port
// it then waits for a door call on the resident's room topic (run.sh plays
// the door station), hangs it up, and logs out. Each step is printed with
// the milliseconds since start.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <cstdlib>
#include <string>

#include "PellixClient/PellixClient.h"
#include "PellixClient/PellixSDKVersion.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
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

const auto kStart = std::chrono::steady_clock::now();

long long elapsedMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - kStart).count();
}

// What a real host registers with the facade: it takes door calls and
// remote hang-ups, and says so.
class DoorHost : public PellixClientDelegate {
public:
    std::function<void(std::shared_ptr<PellixDoorCallModel>)> onDoor;
    bool implements(Method method) const override {
        return method == Method::CallDidReceiveDoor || method == Method::CallDidHangupMessage;
    }
    void callDidReceiveDoor(std::shared_ptr<PellixDoorCallModel> call) override {
        if (onDoor) onDoor(std::move(call));
    }
    void callDidHangupMessage() override {
        std::printf("[%6lld ms] host: the door call was ended elsewhere\n", elapsedMs());
        std::fflush(stdout);
    }
};

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
        std::printf("[%6lld ms] %s: ok\n", elapsedMs(), step);
    } else {
        std::printf("[%6lld ms] %s: failed %lld %s\n", elapsedMs(), step, static_cast<long long>(error ? error->errorCode() : 0),
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

    // The facade holds its delegates weakly: the host keeps its own alive.
    auto host = std::make_shared<DoorHost>();
    if (argc >= 3) {
        Paths::setHomeDirectory(argv[2]);
        const std::string base = "https://127.0.0.1:" + std::string(argv[1]);
        const std::uint32_t mqttPort = argc >= 4 ? static_cast<std::uint32_t>(std::atoi(argv[3])) : 0;
        PellixGlobleConfig::setEnvironment(2, {base, "127.0.0.1", mqttPort ? mqttPort : 1883});
        PellixClient::registClientDelegate(host);
        auto logout = [done, ok] {
            PellixDataManager::loginoutWithCompletion([done, ok](bool out, const PellixErrorPtr& error) {
                *ok = reportStep("logout", out, error);
                done->signal();
            });
        };
        host->onDoor = [logout](std::shared_ptr<PellixDoorCallModel> call) {
            std::printf("[%6lld ms] host: callDidReceiveDoor from %s (%s) for room %s\n", elapsedMs(),
                        call->doorCallerNO().value_or("?").c_str(), call->doorName().value_or("?").c_str(),
                        call->appRoomID().value_or("?").c_str());
            PellixClient::hangupCurrentCall();
            std::printf("[%6lld ms] host: hung up\n", elapsedMs());
            std::fflush(stdout);
            logout();
        };

        *ok = false;
        DispatchQueue::main()->async([done, ok, mqttPort, logout] {
            PellixDataManager::registSDKWithAppId(
                std::string("px-test-app-0001"), std::string("px-test-secret-5f3c2a9d"), nullptr,
                [done, ok, mqttPort, logout](bool registered, const PellixErrorPtr& error) {
                    if (!reportStep("register", registered, error)) {
                        done->signal();
                        return;
                    }
                    PellixDataManager::loginSDKWithNationCode(
                        std::string("86"), std::string("13800138000"), std::nullopt,
                        [done, ok, mqttPort, logout](bool loggedIn, const PellixErrorPtr& error) {
                            if (!reportStep("login", loggedIn, error)) {
                                done->signal();
                                return;
                            }
                            if (auto user = PellixProxyInfo::sharedInstance()->userInfo()) printUser(*user);
                            if (mqttPort) {
                                std::printf("[%6lld ms] waiting for a door call\n", elapsedMs());
                                std::fflush(stdout);
                            } else {
                                logout();
                            }
                        });
                });
        });
    } else {
        DispatchQueue::main()->async([done] { done->signal(); });
    }
    const bool finished = done->waitSeconds(30);

    RunLoop::stopMainLoopThread();
    const int status = finished && *ok ? 0 : 1;
    std::printf("[%6lld ms] example host exits with status %d\n", elapsedMs(), status);
    return status;
}
