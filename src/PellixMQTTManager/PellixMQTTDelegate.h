// PellixMQTTDelegate: what the MQTT connection manager tells its one
// delegate (the client facade). Every method is optional: the bodies here do
// nothing. Calls arrive on the main thread, from inside the session's
// callbacks; a delegate may call the manager back (publish, clear, connect).
#pragma once

#include <memory>

#include "platform/Error.h"

namespace pellix {

class PellixEachFamilyAccessCallModel;
class PellixDoorCallModel;
class PellixPropertyNotice;
class PellixAuthorizationChange;

class PellixMQTTDelegate {
public:
    virtual ~PellixMQTTDelegate() = default;

    // The session connected / closed.
    virtual void mqttConnectedSuccess() {}
    virtual void mqttConnectedClosed() {}
    // The session's error object, as the session reported it.
    virtual void mqttConnectError(platform::ErrorPtr error) { (void)error; }
    virtual void mqttConnectRefused(platform::ErrorPtr error) { (void)error; }
    // A room-to-room call; nothing produces it (such calls arrive by SIP).
    virtual void appIncomingMessage(std::shared_ptr<PellixEachFamilyAccessCallModel> call) { (void)call; }
    // A door-station call.
    virtual void doorIncomingMessage(std::shared_ptr<PellixDoorCallModel> call) { (void)call; }
    // The open door call was taken or ended on another device.
    virtual void hangupMessage() {}
    virtual void propertyNoticeMessage(std::shared_ptr<PellixPropertyNotice> notice) { (void)notice; }
    virtual void authorizationChangeMessage(std::shared_ptr<PellixAuthorizationChange> change) { (void)change; }
};

}  // namespace pellix
