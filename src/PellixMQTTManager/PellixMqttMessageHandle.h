// PellixMqttMessageHandle: turns each MQTT payload the SDK receives into at
// most one typed result for the connection manager, and keeps the one door
// call transaction in progress.
//
// Incoming payload: a JSON object {"cmd": text, "data": object,
// "transactionID": text, "expiredAt": seconds since 1970 ("makeCall" only)}.
// "cmd" is "makeCall" (a door-station call: result 2 with a
// PellixDoorCallModel), "hangUpCall" (the open call was taken or ended
// elsewhere: result 3), "notice" (result 4 with a PellixPropertyNotice; a
// "data" that is not an object gives a notice record with code 500 and
// message "数据格式错误", so the host still learns of it) or
// "auth_expires" (result 5 with a PellixAuthorizationChange, and the user
// record's topic list follows the change). Room-to-room notices ("makeCall"
// with "incomingType" 0 or absent) are dropped: result 1 is never produced.
//
// Transaction: opened by a "makeCall" whose record is usable, closed by the
// matching "hangUpCall" or by clearTransaction(). While it is open every
// "makeCall" is dropped.
//
// Failure: payloads come from the network and are untrusted. Anything that
// is not a JSON object with text "cmd", object "data" (any value for a
// notice) and text
// "transactionID", an unknown command, a "disturbSip" that is not an array of
// text, or a door call whose record is incomplete gives result 0 and a log
// line (when the SDK log is on); it never throws and never opens the
// transaction.
//
// The completion is called at most once, synchronously, before
// handleMessageWithMqttPayload() returns; some drops (a call while one is
// open, a hang-up for another transaction, this device's own hang-up) call
// it not at all.
//
// Threads: main thread only (the MQTT session's queue); not synchronised.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseModel.h"
#include "platform/Value.h"

namespace pellix {

class PellixMqttMessageHandle {
public:
    // Result types handed to the completion.
    enum ResultType : std::int64_t {
        kResultRejected = 0,
        kResultFamilyCall = 1,  // PellixEachFamilyAccessCallModel; never produced here
        kResultDoorCall = 2,    // PellixDoorCallModel
        kResultHangUp = 3,      // no object
        kResultPropertyNotice = 4,  // PellixPropertyNotice
        kResultAuthorizationChange = 5,  // PellixAuthorizationChange
    };
    using Completion = std::function<void(std::int64_t type, std::shared_ptr<PellixBaseModel> object)>;

    // The room topic of a room id: "app/room_id/<room>"; none for a room id
    // that is empty or would change the topic's meaning (a wildcard "+" or
    // "#", a level separator "/", a NUL): such a room id from a message
    // would otherwise subscribe, archive or publish on other rooms' topics.
    static std::optional<std::string> roomTopic(const std::string& roomID);
    static bool isUsableRoomID(std::string_view roomID);

    static const std::shared_ptr<PellixMqttMessageHandle>& sharedInstance();

    void handleMessageWithMqttPayload(const platform::Bytes& payload, const Completion& completion);

    // The open transaction's id; nullopt (or empty) when none.
    const PellixText& transcationID() const { return transcationID_; }
    void setTranscationID(PellixText transcationID) { transcationID_ = std::move(transcationID); }
    void clearTransaction() { transcationID_.reset(); }

    // The "hangUpCall" message this device publishes on a room topic when it
    // takes a call: compact JSON {"cmd":"hangUpCall","transactionID":...,
    // "data":{"toSipNO":...}}.
    static platform::Bytes hangUpCallMessage(const std::string& toSipNO, const std::string& transactionID);

    // Object key of the caller's picture: "caller/<doorGuid>/<date>/<id>.jpg",
    // the date "YYYY/MM/dd" (week-based year, kept as the uploader writes it)
    // of `expiredAt` in the device's time zone.
    static std::string callerImageObjectKey(const std::string& doorGuid, std::int64_t expiredAt,
                                            const std::string& transactionID);

    PellixMqttMessageHandle(const PellixMqttMessageHandle&) = delete;
    PellixMqttMessageHandle& operator=(const PellixMqttMessageHandle&) = delete;

private:
    PellixMqttMessageHandle() = default;

    void handleMakeCall(const platform::Dictionary& message, const platform::Dictionary& data,
                        const std::string& transactionID, const Completion& completion);
    void handleHangUpCall(const platform::Dictionary& data, const std::string& transactionID,
                          const Completion& completion);
    void handlePropertyNotice(const platform::Value& data, const Completion& completion);
    void handleAuthChange(const platform::Dictionary& data, const Completion& completion);

    PellixText transcationID_;
};

}  // namespace pellix
