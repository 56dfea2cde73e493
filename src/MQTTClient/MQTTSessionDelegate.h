// MQTTSessionDelegate: how an MQTTSession reports to its owner.
//
// Every method is optional: the bodies here do nothing, so a delegate
// overrides only what it wants. The session holds its delegate weakly and
// calls it on the session's queue, from inside its own operations: a delegate
// may call back into the session (close it, reconnect it, publish) from any of
// these methods; the session keeps itself alive across the call.
//
// The two methods with a result are neutral when not overridden:
// newMessageWithFeedback answers true (the message counts as processed and is
// acknowledged) and ignoreReceived answers false (nothing is dropped).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix {

class MQTTSession;

// Status of a session (signed 64-bit as the platform's enums).
enum MQTTSessionStatus : std::int64_t {
    MQTTSessionStatusCreated = 0,
    MQTTSessionStatusConnecting = 1,
    MQTTSessionStatusConnected = 2,
    MQTTSessionStatusDisconnecting = 3,
    MQTTSessionStatusClosed = 4,
    MQTTSessionStatusError = 5,
};

// Events passed to handleEvent and to the session's connectionHandler.
enum MQTTSessionEvent : std::int64_t {
    MQTTSessionEventConnected = 0,
    MQTTSessionEventConnectionRefused = 1,
    MQTTSessionEventConnectionClosed = 2,
    MQTTSessionEventConnectionError = 3,
    MQTTSessionEventProtocolError = 4,
    MQTTSessionEventConnectionClosedByBroker = 5,
};

// Codes of the error domain "MQTT" (kMQTTErrorDomain). A CONNACK refusal
// carries its return code (1 to 5; 6 for anything above 5), a DISCONNECT from
// the broker the packet's reason code, a level-5 acknowledgement that reports
// a failure the reason code it carried (0x80 and up).
enum MQTTSessionError : std::int64_t {
    MQTTSessionErrorClosedWithoutConnack = -8,  // "Server has closed connection without connack."
    MQTTSessionErrorIllegalMessageReceived = -7,
    MQTTSessionErrorDroppingOutgoingMessage = -6,  // "Dropping outgoing Message"
    MQTTSessionErrorNoResponse = -6,               // "No response" (same number, other text)
    MQTTSessionErrorEncoderNotReady = -5,
    MQTTSessionErrorConnackExpected = -2,
    MQTTSessionErrorNoConnack = -1,
    MQTTSessionErrorConnackUnacceptableProtocolVersion = 1,
    MQTTSessionErrorConnackIdentifierRejected = 2,
    MQTTSessionErrorConnackServerUnavailable = 3,
    MQTTSessionErrorConnackBadUserNameOrPassword = 4,
    MQTTSessionErrorConnackNotAuthorized = 5,
    MQTTSessionErrorConnackReserved = 6,
    // A broker that stops answering: no CONNACK within connectTimeout, or no
    // PINGRESP one keep-alive interval after a PINGREQ.
    MQTTSessionErrorNoConnackInTime = -9,       // "No CONNACK within the connect time-out"
    MQTTSessionErrorNoPingResponse = -10,       // "No PINGRESP within the keep-alive interval"
    // A publish refused before anything is stored: a topic over 65,535 bytes,
    // a packet past the protocol's limit or the broker's Maximum Packet Size.
    MQTTSessionErrorMessageTooLarge = -11,      // "Message cannot be sent to this broker"
    MQTTSessionErrorNoFreeMessageId = -12,      // "No free message id"
    MQTTSessionErrorSubscriptionRefused = -13,  // "Subscription refused" (a SUBACK failure code)
    // Level 5: the broker kept no session, so a stored outgoing flow was
    // dropped rather than resent as a new message.
    MQTTSessionErrorSessionNotPresent = -14,    // "Session not present on the broker"
};

inline constexpr const char* kMQTTErrorDomain = "MQTT";

class MQTTSessionDelegate {
public:
    virtual ~MQTTSessionDelegate() = default;

    // A delivered application message (QoS 0: mid 0).
    virtual void newMessage(MQTTSession& session, const platform::Bytes& data, const std::string& topic,
                            std::uint8_t qos, bool retained, std::uint32_t mid) {
        (void)session, (void)data, (void)topic, (void)qos, (void)retained, (void)mid;
    }
    // Same moment; false holds back the PUBACK (QoS 1) or PUBCOMP (QoS 2), so
    // the broker sends the message again.
    virtual bool newMessageWithFeedback(MQTTSession& session, const platform::Bytes& data, const std::string& topic,
                                        std::uint8_t qos, bool retained, std::uint32_t mid) {
        (void)session, (void)data, (void)topic, (void)qos, (void)retained, (void)mid;
        return true;
    }
    // Part of the protocol; the session never sends these two.
    virtual void session(MQTTSession& session, const platform::Bytes& data, const std::string& topic) {
        (void)session, (void)data, (void)topic;
    }
    virtual void session(MQTTSession& session, MQTTSessionEvent event) { (void)session, (void)event; }

    virtual void handleEvent(MQTTSession& session, MQTTSessionEvent event, platform::ErrorPtr error) {
        (void)session, (void)event, (void)error;
    }
    virtual void connected(MQTTSession& session) { (void)session; }
    virtual void connected(MQTTSession& session, bool sessionPresent) { (void)session, (void)sessionPresent; }
    virtual void connectionRefused(MQTTSession& session, platform::ErrorPtr error) { (void)session, (void)error; }
    virtual void connectionClosed(MQTTSession& session) { (void)session; }
    virtual void connectionError(MQTTSession& session, platform::ErrorPtr error) { (void)session, (void)error; }
    virtual void protocolError(MQTTSession& session, platform::ErrorPtr error) { (void)session, (void)error; }

    // An outgoing QoS 1 or 2 message completed successfully.
    virtual void messageDelivered(MQTTSession& session, std::uint16_t msgID) { (void)session, (void)msgID; }
    virtual void messageDelivered(MQTTSession& session, std::uint16_t msgID, const std::string& topic,
                                  const platform::Bytes& data, std::uint8_t qos, bool retainFlag) {
        (void)session, (void)msgID, (void)topic, (void)data, (void)qos, (void)retainFlag;
    }
    // Granted values as the broker sent them (failure codes included).
    virtual void subAckReceived(MQTTSession& session, std::uint16_t msgID, const platform::Array& grantedQoss) {
        (void)session, (void)msgID, (void)grantedQoss;
    }
    virtual void unsubAckReceived(MQTTSession& session, std::uint16_t msgID) { (void)session, (void)msgID; }

    // Before each packet is written / for each parsed incoming packet.
    virtual void sending(MQTTSession& session, std::uint8_t type, std::uint8_t qos, bool retained, bool duped,
                         std::uint16_t mid, const platform::Bytes& data) {
        (void)session, (void)type, (void)qos, (void)retained, (void)duped, (void)mid, (void)data;
    }
    virtual void received(MQTTSession& session, std::uint8_t type, std::uint8_t qos, bool retained, bool duped,
                          std::uint16_t mid, const platform::Bytes& data) {
        (void)session, (void)type, (void)qos, (void)retained, (void)duped, (void)mid, (void)data;
    }
    // True drops the packet before the session handles it.
    virtual bool ignoreReceived(MQTTSession& session, std::uint8_t type, std::uint8_t qos, bool retained, bool duped,
                                std::uint16_t mid, const platform::Bytes& data) {
        (void)session, (void)type, (void)qos, (void)retained, (void)duped, (void)mid, (void)data;
        return false;
    }

    // Flow counts of the session's client id; queued is always 0.
    virtual void buffered(MQTTSession& session, std::uint64_t queued, std::uint64_t flowingIn,
                          std::uint64_t flowingOut) {
        (void)session, (void)queued, (void)flowingIn, (void)flowingOut;
    }
    virtual void buffered(MQTTSession& session, std::uint64_t flowingIn, std::uint64_t flowingOut) {
        (void)session, (void)flowingIn, (void)flowingOut;
    }
};

}  // namespace pellix
