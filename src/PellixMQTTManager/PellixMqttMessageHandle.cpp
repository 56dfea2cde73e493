#include "PellixMQTTManager/PellixMqttMessageHandle.h"

#include <algorithm>
#include <string_view>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAuthRecords.h"
#include "PellixLog/PellixLog.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/DateFormatter.h"
#include "platform/JSON.h"

namespace pellix {

namespace {

void reject(std::string_view why, const PellixMqttMessageHandle::Completion& completion) {
    if (PellixLog::isLogEnable()) PellixLog::debug("MQTT message ignored: " + std::string(why));
    completion(PellixMqttMessageHandle::kResultRejected, nullptr);
}

// A member that is present and not null.
const platform::Value* member(const platform::Dictionary& d, std::string_view key) {
    const platform::Value* v = d.find(key);
    return v && !v->isNull() ? v : nullptr;
}

// The "%@" text of a member; empty when absent or null.
std::string memberText(const platform::Dictionary& d, std::string_view key) {
    const platform::Value* v = member(d, key);
    if (!v) return {};
    if (const std::string* s = v->stringIf()) return *s;
    return v->description();
}

PellixText ownSipNumber() {
    const auto user = PellixProxyInfo::sharedInstance()->userInfo();
    return user ? user->sip_no() : PellixText();
}

}  // namespace

bool PellixMqttMessageHandle::isUsableRoomID(std::string_view roomID) {
    return !roomID.empty() && roomID.find_first_of(std::string_view("+#/\0", 4)) == std::string_view::npos;
}

std::optional<std::string> PellixMqttMessageHandle::roomTopic(const std::string& roomID) {
    if (!isUsableRoomID(roomID)) return std::nullopt;
    return "app/room_id/" + roomID;
}

const std::shared_ptr<PellixMqttMessageHandle>& PellixMqttMessageHandle::sharedInstance() {
    // Never destroyed: no exit-time teardown races the main loop.
    static const auto* instance = new std::shared_ptr<PellixMqttMessageHandle>(new PellixMqttMessageHandle());
    return *instance;
}

void PellixMqttMessageHandle::handleMessageWithMqttPayload(const platform::Bytes& payload,
                                                           const Completion& completion) {
    const std::optional<platform::Value> json = platform::JSON::parse(payload, platform::JSON::kFragmentsAllowed);
    const platform::Dictionary* message = json ? json->dictionaryIf() : nullptr;
    if (!message) return reject("not a JSON object", completion);
    const platform::Value* cmd = message->find("cmd");
    const platform::Value* data = message->find("data");
    if (!cmd || !data) return reject("no \"cmd\" or \"data\"", completion);
    const platform::Value* transactionID = message->find("transactionID");
    if (!transactionID) return reject("no \"transactionID\"", completion);
    // Senders always use these types; anything else is not trusted any further.
    const std::string* id = transactionID->stringIf();
    const std::string* command = cmd->stringIf();
    // A notice is reported whatever its data: the record then says "数据格式错误"
    // (code 500) rather than the notice being lost.
    if (id && command && *command == "notice") return handlePropertyNotice(*data, completion);
    const platform::Dictionary* fields = data->dictionaryIf();
    if (!fields) return reject("\"data\" is not an object", completion);
    if (!id) return reject("\"transactionID\" is not text", completion);
    if (!command) return reject("\"cmd\" is not text", completion);
    if (*command == "makeCall") return handleMakeCall(*message, *fields, *id, completion);
    if (*command == "hangUpCall") return handleHangUpCall(*fields, *id, completion);
    if (*command == "auth_expires") return handleAuthChange(*fields, completion);
    reject("unknown command \"" + *command + "\"", completion);
}

void PellixMqttMessageHandle::handleMakeCall(const platform::Dictionary& message, const platform::Dictionary& data,
                                             const std::string& transactionID, const Completion& completion) {
    // One call at a time: the open one has to end first.
    if (transcationID_ && !transcationID_->empty()) return;

    const platform::Value* incomingType = member(data, "incomingType");
    if (!incomingType || incomingType->intValue() == 0) {
        const std::string roomID = memberText(data, "roomID");
        const std::string remoteRoomID = memberText(data, "remoteRoomID");
        if (roomID.empty() || remoteRoomID.empty() || roomID == remoteRoomID) {
            return reject("room-to-room call without two rooms", completion);
        }
    }
    if (!incomingType) return reject("no \"incomingType\"", completion);
    // Room-to-room notices arrive by SIP; nothing to report.
    if (incomingType->intValue() != 1) return;

    if (const platform::Value* disturb = member(data, "disturbSip")) {
        const platform::Array* list = disturb->arrayIf();
        if (!list) return reject("\"disturbSip\" is not an array", completion);
        const PellixText own = ownSipNumber();
        bool disturbed = false;
        for (const platform::Value& sip : *list) {
            const std::string* text = sip.stringIf();
            if (!text) return reject("\"disturbSip\" holds a value that is not text", completion);
            disturbed = disturbed || (own && *text == *own);
        }
        if (disturbed) return reject("do not disturb", completion);
    }

    auto record = PellixBaseModel::make<PellixDoorCallModel>(data);
    // The transaction opens only for a usable record: an incomplete one would
    // otherwise hold it open and drop every later door call until a matching
    // hang-up came.
    if (!record->checkDataInvalid()) return reject("incomplete door call", completion);
    // Its room's topic is where the call is taken back.
    if (!isUsableRoomID(*record->appRoomID())) return reject("unusable \"appRoomID\"", completion);
    transcationID_ = transactionID;
    const platform::Value* expiredAt = member(message, "expiredAt");
    record->setIncomingImageObjectKey(
        callerImageObjectKey(*record->doorGuid(), expiredAt ? expiredAt->intValue() : 0, transactionID));
    completion(kResultDoorCall, record);
}

void PellixMqttMessageHandle::handleHangUpCall(const platform::Dictionary& data, const std::string& transactionID,
                                               const Completion& completion) {
    if (!transcationID_ || *transcationID_ != transactionID) return;
    transcationID_.reset();
    const std::string toSipNO = memberText(data, "toSipNO");
    if (toSipNO.empty()) return completion(kResultHangUp, nullptr);
    // This device took the call (or hears its own "hangUpCall").
    const PellixText own = ownSipNumber();
    if (own && toSipNO == *own) return;
    completion(kResultHangUp, nullptr);
}

void PellixMqttMessageHandle::handlePropertyNotice(const platform::Value& data, const Completion& completion) {
    auto record = PellixBaseResponse::make<PellixPropertyNotice>(data,
                                                                 PellixRecordClass::of<PellixPropertyNotice>());
    completion(kResultPropertyNotice, record);
}

void PellixMqttMessageHandle::handleAuthChange(const platform::Dictionary& data, const Completion& completion) {
    auto record = PellixBaseResponse::make<PellixAuthorizationChange>(
        platform::Value(data), PellixRecordClass::of<PellixAuthorizationChange>());
    // A room id that is not one room would subscribe (and archive) a
    // wildcard: the change is refused whole.
    const bool hasRoom = record->room_id().has_value();
    if (hasRoom && !isUsableRoomID(*record->room_id())) return reject("unusable \"room_id\"", completion);
    completion(kResultAuthorizationChange, record);

    const auto& store = PellixProxyInfo::sharedInstance();
    const std::shared_ptr<PellixInitUserInfo> user = store->userInfo();
    // Without a room there is no topic to add or drop.
    const std::string topic = hasRoom ? *roomTopic(*record->room_id()) : std::string();
    if (hasRoom && record->type() == PellixAuthorizationChange::kAdd) {
        // The new room's topic alone becomes the connection's topic list.
        PellixMQTTManager::resubcribleTopics(std::vector<std::string>{topic});
    }
    // Logged out meanwhile: no record to keep in step (and none to archive).
    if (!user) return;
    std::vector<std::string> topics = user->topic().value_or(std::vector<std::string>{});
    if (hasRoom && record->type() == PellixAuthorizationChange::kAdd) {
        topics.push_back(topic);
    } else if (hasRoom && record->type() == PellixAuthorizationChange::kDel) {
        // The live subscription stays until the session is rebuilt.
        topics.erase(std::remove(topics.begin(), topics.end(), topic), topics.end());
    }
    if (user->topic() || !topics.empty()) user->setTopic(std::move(topics));
    store->setUserInfo(user);
}

platform::Bytes PellixMqttMessageHandle::hangUpCallMessage(const std::string& toSipNO,
                                                           const std::string& transactionID) {
    const platform::Value message(platform::Dictionary{
        {"cmd", "hangUpCall"},
        {"transactionID", transactionID},
        {"data", platform::Dictionary{{"toSipNO", toSipNO}}},
    });
    const std::optional<std::string> text = platform::JSON::write(message);
    return text ? platform::Bytes(text->begin(), text->end()) : platform::Bytes();
}

std::string PellixMqttMessageHandle::callerImageObjectKey(const std::string& doorGuid, std::int64_t expiredAt,
                                                          const std::string& transactionID) {
    // "YYYY" (week-based year) is what the uploader writes; keep it.
    const std::string date =
        platform::DateFormatter::format(static_cast<double>(expiredAt), "YYYY/MM/dd").value_or(std::string());
    return "caller/" + doorGuid + "/" + date + "/" + transactionID + ".jpg";
}

}  // namespace pellix
