// MQTTStrict: the switch that turns on argument checking in the session.
//
// Off unless switched on. With it off, the MQTT client never raises an
// exception: every failure is an error object or a delegate event. Any thread
// may read or set it (relaxed atomic); it is meant to be set once at start-up.
#pragma once

namespace pellix {

class MQTTStrict {
public:
    static bool strict();
    static void setStrict(bool strict);
};

}  // namespace pellix
