// MQTTMessage: one MQTT control packet, as the client passes packets around.
//
// The session builds every outgoing packet with one of the static builders
// below (MQTT 3.1 = protocol level 3, 3.1.1 = level 4, 5.0 = level 5) and turns
// it into bytes with wireFormat(); incoming packets become a record through
// messageFromData(). Whatever is said below to be written "at level 5" is
// written only when the level is exactly 5.
//
// The builders never check their arguments (that is the session's job, in
// strict mode); they only refuse what can't be put on the wire at all: a
// string or binary field longer than 65,535 bytes, or a packet longer than
// 268,435,455 bytes. Such a record is marked unencodable, its wireFormat() is
// empty, and the session's encode fails instead of sending a corrupt packet.
//
// The parser never throws and keeps no state: refused bytes give nullptr and
// one warning line "[MQTTMessage] ..." (warning bit of the MQTT log mask).
//
// A record is a value: built once, read by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "MQTTClient/MQTTProperties.h"
#include "platform/Value.h"

namespace pellix {

// Control-packet types (the MQTT standard's names). 0 is a fresh record; 15
// (AUTH) is neither built nor accepted.
enum MQTTPacketType : std::uint8_t {
    MQTTConnect = 1,
    MQTTConnack = 2,
    MQTTPublish = 3,
    MQTTPuback = 4,
    MQTTPubrec = 5,
    MQTTPubrel = 6,
    MQTTPubcomp = 7,
    MQTTSubscribe = 8,
    MQTTSuback = 9,
    MQTTUnsubscribe = 10,
    MQTTUnsuback = 11,
    MQTTPingreq = 12,
    MQTTPingresp = 13,
    MQTTDisconnect = 14,
};

class MQTTMessage;
using MQTTMessagePtr = std::shared_ptr<MQTTMessage>;

class MQTTMessage {
public:
    // The largest remaining length the parser (and the stream decoder) accept:
    // three length bytes.
    static constexpr std::uint32_t kMaxRemainingLength = 2097151;
    // The largest remaining length MQTT can express (four length bytes).
    static constexpr std::uint64_t kMaxEncodableRemainingLength = 268435455;

    MQTTMessage() = default;
    explicit MQTTMessage(std::uint8_t type) : type_(type) {}
    MQTTMessage(std::uint8_t type, std::optional<platform::Bytes> data) : type_(type), data_(std::move(data)) {}
    MQTTMessage(std::uint8_t type, std::uint8_t qos, std::optional<platform::Bytes> data)
        : type_(type), qos_(qos), data_(std::move(data)) {}
    MQTTMessage(std::uint8_t type, std::uint8_t qos, bool retainFlag, bool dupFlag, std::optional<platform::Bytes> data)
        : type_(type), qos_(qos), retainFlag_(retainFlag), dupFlag_(dupFlag), data_(std::move(data)) {}

    // ---- Builders -------------------------------------------------------

    // CONNECT. keepAlive is written as its low 16 bits. The will topic, will
    // message and (at level 5) the will properties go out only when `will` is
    // set; user name and password flags follow their presence. The ten values
    // after protocolLevel are written at level 5 only, each when set; the will
    // delay interval goes into the will properties.
    static MQTTMessagePtr connectMessageWithClientId(
        const std::string& clientId, const std::optional<std::string>& userName,
        const std::optional<std::string>& password, std::int64_t keepAlive, bool cleanSession, bool will,
        const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg,
        std::uint8_t willQoS, bool willRetain, std::uint8_t protocolLevel,
        std::optional<std::uint32_t> sessionExpiryInterval, const std::optional<std::string>& authMethod,
        const std::optional<platform::Bytes>& authData, std::optional<std::uint32_t> requestProblemInformation,
        std::optional<std::uint32_t> willDelayInterval, std::optional<std::uint32_t> requestResponseInformation,
        std::optional<std::uint32_t> receiveMaximum, std::optional<std::uint32_t> topicAliasMaximum,
        const std::optional<platform::Dictionary>& userProperty, std::optional<std::uint32_t> maximumPacketSize);

    // PINGREQ: 0xC0 0x00.
    static MQTTMessagePtr pingreqMessage();

    // DISCONNECT. Below level 5 it has no variable header; at level 5 the
    // reason code is written when it is not 0 or properties follow.
    static MQTTMessagePtr disconnectMessage(std::uint8_t protocolLevel, std::uint64_t returnCode,
                                            std::optional<std::uint32_t> sessionExpiryInterval,
                                            const std::optional<std::string>& reasonString,
                                            const std::optional<platform::Dictionary>& userProperty);

    // SUBSCRIBE for every topic filter of `topics` in the dictionary's order;
    // the number under each is written as one byte (the requested QoS, at
    // level 5 the whole subscription-options byte).
    static MQTTMessagePtr subscribeMessageWithMessageId(std::uint16_t msgId, const platform::Dictionary& topics,
                                                        std::uint8_t protocolLevel,
                                                        std::optional<std::uint64_t> subscriptionIdentifier);

    // UNSUBSCRIBE for every filter of `topics` in order.
    static MQTTMessagePtr unsubscribeMessageWithMessageId(std::uint16_t msgId, const std::vector<std::string>& topics,
                                                          std::uint8_t protocolLevel);

    // PUBLISH. The packet identifier is written when msgId is not 0 (the
    // caller passes 0 for QoS 0). The last seven values are level-5 properties.
    static MQTTMessagePtr publishMessageWithData(
        const platform::Bytes& data, const std::string& topic, std::uint8_t qos, std::uint16_t msgId,
        bool retainFlag, bool dupFlag, std::uint8_t protocolLevel,
        std::optional<std::uint32_t> payloadFormatIndicator, std::optional<std::uint32_t> publicationExpiryInterval,
        std::optional<std::uint32_t> topicAlias, const std::optional<std::string>& responseTopic,
        const std::optional<platform::Bytes>& correlationData, const std::optional<platform::Dictionary>& userProperty,
        const std::optional<std::string>& contentType);

    // The acknowledgement family. At level 5 the reason code and the property
    // length are always written.
    static MQTTMessagePtr pubackMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                     std::uint64_t returnCode,
                                                     const std::optional<std::string>& reasonString,
                                                     const std::optional<platform::Dictionary>& userProperty);
    static MQTTMessagePtr pubrecMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                     std::uint64_t returnCode,
                                                     const std::optional<std::string>& reasonString,
                                                     const std::optional<platform::Dictionary>& userProperty);
    static MQTTMessagePtr pubrelMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                     std::uint64_t returnCode,
                                                     const std::optional<std::string>& reasonString,
                                                     const std::optional<platform::Dictionary>& userProperty);
    static MQTTMessagePtr pubcompMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                      std::uint64_t returnCode,
                                                      const std::optional<std::string>& reasonString,
                                                      const std::optional<platform::Dictionary>& userProperty);

    // ---- Parser ---------------------------------------------------------

    // The bytes of one whole packet (fixed header, remaining-length field and
    // remaining bytes) at the given protocol level → a new record, or nullptr
    // when refused (with one warning line saying why).
    static MQTTMessagePtr messageFromData(std::span<const std::uint8_t> data, std::uint8_t protocolLevel);
    // Same rules, filling `message` (which must be fresh or previously filled
    // by this call) so a caller that reuses one record allocates only for the
    // packet's data. False when refused; `message` then holds no packet.
    static bool parse(std::span<const std::uint8_t> data, std::uint8_t protocolLevel, MQTTMessage& message);

    // ---- Wire format ----------------------------------------------------

    // The whole packet as sent: fixed header, remaining length, data. Empty
    // when the record is unencodable. Computed anew at each call.
    platform::Bytes wireFormat() const;
    // Appends the wire format to `out`; false (nothing appended) when unencodable.
    bool appendWireFormat(platform::Bytes& out) const;
    // False when a builder met a field it cannot write, or the packet is too long.
    bool encodable() const;

    // ---- Fields ---------------------------------------------------------

    std::uint8_t type() const { return type_; }
    void setType(std::uint8_t type) { type_ = type; }
    std::uint8_t qos() const { return qos_; }
    void setQos(std::uint8_t qos) { qos_ = qos; }
    bool retainFlag() const { return retainFlag_; }
    void setRetainFlag(bool retain) { retainFlag_ = retain; }
    bool dupFlag() const { return dupFlag_; }
    void setDupFlag(bool dup) { dupFlag_ = dup; }
    // Packet identifier; 0 when the packet has none.
    std::uint16_t mid() const { return mid_; }
    void setMid(std::uint16_t mid) { mid_ = mid; }
    // Everything after the fixed header; unset for packets without it.
    const std::optional<platform::Bytes>& data() const { return data_; }
    void setData(std::optional<platform::Bytes> data) { data_ = std::move(data); }
    // Return or reason code of a parsed CONNACK, PUBACK, PUBREC, PUBREL, PUBCOMP or DISCONNECT.
    const std::optional<unsigned>& returnCode() const { return returnCode_; }
    void setReturnCode(std::optional<unsigned> code) { returnCode_ = code; }
    // First byte of a parsed CONNACK.
    const std::optional<unsigned>& connectAcknowledgeFlags() const { return connectAcknowledgeFlags_; }
    void setConnectAcknowledgeFlags(std::optional<unsigned> flags) { connectAcknowledgeFlags_ = flags; }
    // MQTT 5 properties of a parsed level-5 packet.
    const std::shared_ptr<MQTTProperties>& properties() const { return properties_; }
    void setProperties(std::shared_ptr<MQTTProperties> properties) { properties_ = std::move(properties); }

private:
    static MQTTMessagePtr ackMessage(std::uint8_t type, std::uint8_t qos, std::uint16_t msgId,
                                     std::uint8_t protocolLevel, std::uint64_t returnCode,
                                     const std::optional<std::string>& reasonString,
                                     const std::optional<platform::Dictionary>& userProperty);
    static MQTTMessagePtr unencodable(MQTTMessagePtr message);

    std::uint8_t type_ = 0;
    std::uint8_t qos_ = 0;
    bool retainFlag_ = false;
    bool dupFlag_ = false;
    bool unencodable_ = false;
    std::uint16_t mid_ = 0;
    std::optional<platform::Bytes> data_;
    std::optional<unsigned> returnCode_;
    std::optional<unsigned> connectAcknowledgeFlags_;
    std::shared_ptr<MQTTProperties> properties_;
};

}  // namespace pellix
