// The MQTT command handler and the connection manager's dispatch fed
// arbitrary payloads, as a hostile broker could send them. The first byte
// picks the state before the message (a door call open or not, a resident
// logged in or not); the rest is the payload. Nothing may crash, and:
// - the completion runs at most once, with a known type and the object that
//   type carries;
// - a door call carries a usable record with its caller image key, and only
//   a door call opens the transaction (to the payload's id);
// - a rejected message leaves the transaction as it was;
// - an open transaction closes only by a hang-up with its id;
// - the manager passes exactly the handler's verdict on to its delegate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "MQTTClient/MQTTSession.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAuthRecords.h"
#include "PellixLog/PellixLog.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/DateFormatter.h"
#include "platform/JSON.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"

using namespace pellix;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

struct Counter : PellixMQTTDelegate {
    int events = 0;
    void doorIncomingMessage(std::shared_ptr<PellixDoorCallModel> call) override { events += call ? 1 : 100; }
    void hangupMessage() override { ++events; }
    void propertyNoticeMessage(std::shared_ptr<PellixPropertyNotice> notice) override { events += notice ? 1 : 100; }
    void authorizationChangeMessage(std::shared_ptr<PellixAuthorizationChange> change) override {
        events += change ? 1 : 100;
    }
    void appIncomingMessage(std::shared_ptr<PellixEachFamilyAccessCallModel>) override { events += 100; }
};

std::shared_ptr<Counter> counter;
std::shared_ptr<MQTTSession> session;

void setUp() {
    PellixLog::disableLog();
    // Authorisation changes archive the user record: keep that off the disk when possible.
    char shm[] = "/dev/shm/pellix_mqtt_fuzz_XXXXXX";
    char tmp[] = "/tmp/pellix_mqtt_fuzz_XXXXXX";
    const char* dir = mkdtemp(shm);
    if (!dir) dir = mkdtemp(tmp);
    check(dir != nullptr);
    static const std::string home = dir;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    });
    platform::Paths::setHomeDirectory(dir);
    platform::DateFormatter::setDefaultTimeZone("UTC");
    counter = std::make_shared<Counter>();
    PellixMQTTManager::setDelegate(counter);
    session = MQTTSession::create();
}

// The payload's "transactionID" when it is a JSON object holding text there.
std::optional<std::string> payloadTransaction(const platform::Bytes& payload) {
    auto json = platform::JSON::parse(payload, platform::JSON::kFragmentsAllowed);
    const platform::Value* id = json ? json->get("transactionID") : nullptr;
    const std::string* text = id ? id->stringIf() : nullptr;
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = (setUp(), true);
    (void)ready;
    if (size == 0) return 0;
    const std::uint8_t state = data[0];
    const platform::Bytes payload(data + 1, data + size);

    const auto& handler = PellixMqttMessageHandle::sharedInstance();
    handler->clearTransaction();
    if (state & 1) handler->setTranscationID(std::string("t1"));
    if (state & 2) {
        auto user = std::make_shared<PellixInitUserInfo>();
        user->setSip_no(std::string("1001"));
        user->setTopic(std::vector<std::string>{"app/room_id/1"});
        PellixProxyInfo::sharedInstance()->setUserInfo(user);
    } else {
        PellixProxyInfo::sharedInstance()->setUserInfo(nullptr);
    }
    const PellixText before = handler->transcationID();

    int calls = 0;
    std::int64_t type = -1;
    handler->handleMessageWithMqttPayload(payload, [&](std::int64_t t, std::shared_ptr<PellixBaseModel> object) {
        ++calls;
        type = t;
        switch (t) {
        case PellixMqttMessageHandle::kResultRejected:
        case PellixMqttMessageHandle::kResultHangUp: check(object == nullptr); break;
        case PellixMqttMessageHandle::kResultDoorCall: {
            auto call = std::dynamic_pointer_cast<PellixDoorCallModel>(object);
            check(call && call->checkDataInvalid());
            const PellixText& key = call->incomingImageObjectKey();
            check(key && key->starts_with("caller/" + *call->doorGuid() + "/") && key->ends_with(".jpg"));
            break;
        }
        case PellixMqttMessageHandle::kResultPropertyNotice:
            check(std::dynamic_pointer_cast<PellixPropertyNotice>(object) != nullptr);
            break;
        case PellixMqttMessageHandle::kResultAuthorizationChange:
            check(std::dynamic_pointer_cast<PellixAuthorizationChange>(object) != nullptr);
            break;
        default: check(false);
        }
    });
    check(calls <= 1);
    const PellixText& after = handler->transcationID();
    if (type == PellixMqttMessageHandle::kResultDoorCall) {
        check(!before && after && after == payloadTransaction(payload));
    } else if (after != before) {
        // Only the open call's hang-up changes the transaction: it closes it.
        check(before && !after && payloadTransaction(payload) == before);
        check(type == -1 || type == PellixMqttMessageHandle::kResultHangUp);
    }

    // The same message through the manager reaches its delegate exactly when
    // the handler reports something.
    handler->clearTransaction();
    if (state & 1) handler->setTranscationID(std::string("t1"));
    counter->events = 0;
    PellixMQTTManager::sharedInstance()->newMessage(*session, payload, "app/room_id/1", 0, false, 0);
    check(counter->events == (type > 0 ? 1 : 0));
    // Subscriptions scheduled by an authorisation change find no session.
    platform::RunLoop::main()->runOnce(0);
    return 0;
}
