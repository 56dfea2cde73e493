// MQTTProperties: the MQTT 5.0 properties of one received packet.
//
// Built from a property block (a variable byte integer giving the block's
// length, then identifier / value pairs) by the parser for level-5 CONNACK,
// PUBACK, PUBREC, PUBREL, PUBCOMP and DISCONNECT, and by the session for a
// level-5 PUBLISH. Outgoing properties are written by the MQTTMessage
// builders directly.
//
// Reading never fails and never reads past the bytes it is given: a malformed
// block keeps the properties read before the fault and leaves the rest unset.
// A property that occurs twice keeps the later value. Numbers are the wire
// values as signed 32-bit (a four-byte 0xFFFFFFFF reads as -1; cast to
// uint32_t for the wire value). Not synchronised: a value type.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "platform/Value.h"

namespace pellix {

class MQTTProperties {
public:
    MQTTProperties() = default;
    // Parses `data`, which begins with the block's length.
    explicit MQTTProperties(std::span<const std::uint8_t> data) { initFromData(data); }

    // Class-side readers; each takes bytes that begin at the field.
    // Value of the variable byte integer at the start; -1 when the bytes end
    // before its last byte; -2 when it needs a fourth byte (so at most 2,097,151).
    static std::int32_t getVariableLength(std::span<const std::uint8_t> data);
    // Bytes its variable byte integer takes: 1 below 128 (negatives included),
    // 2 up to 16,383, 3 up to 2,097,151, 4 up to 268,435,455, 0 above.
    static std::int32_t variableIntLength(std::int32_t value);
    // First byte × 256 + second; 0 when fewer than 2 bytes.
    static std::int32_t getTwoByteInt(std::span<const std::uint8_t> data);
    // First four bytes big-endian; 0 when fewer than 4 bytes.
    static std::int32_t getFourByteInt(std::span<const std::uint8_t> data);
    // u16 length L, then L bytes of UTF-8; nullopt when fewer than L + 2 bytes
    // are there or the bytes are not well-formed UTF-8.
    static std::optional<std::string> getUtf8String(std::span<const std::uint8_t> data);
    // u16 length L, then L bytes; nullopt when fewer than L + 2 bytes are there.
    static std::optional<platform::Bytes> getBinaryData(std::span<const std::uint8_t> data);
    // True for well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
    static bool isValidUTF8(std::span<const std::uint8_t> data);

    // Accessors, one pair per property; the comment gives its identifier.
    const std::optional<std::int32_t>& payloadFormatIndicator() const { return payloadFormatIndicator_; }  // 0x01
    void setPayloadFormatIndicator(std::optional<std::int32_t> value) { payloadFormatIndicator_ = std::move(value); }
    const std::optional<std::int32_t>& publicationExpiryInterval() const { return publicationExpiryInterval_; }  // 0x02, the message expiry interval
    void setPublicationExpiryInterval(std::optional<std::int32_t> value) { publicationExpiryInterval_ = std::move(value); }
    const std::optional<std::string>& contentType() const { return contentType_; }  // 0x03
    void setContentType(std::optional<std::string> value) { contentType_ = std::move(value); }
    const std::optional<std::string>& responseTopic() const { return responseTopic_; }  // 0x08
    void setResponseTopic(std::optional<std::string> value) { responseTopic_ = std::move(value); }
    const std::optional<platform::Bytes>& correlationData() const { return correlationData_; }  // 0x09
    void setCorrelationData(std::optional<platform::Bytes> value) { correlationData_ = std::move(value); }
    const std::optional<std::int32_t>& subscriptionIdentifier() const { return subscriptionIdentifier_; }  // 0x0B
    void setSubscriptionIdentifier(std::optional<std::int32_t> value) { subscriptionIdentifier_ = std::move(value); }
    const std::optional<std::int32_t>& sessionExpiryInterval() const { return sessionExpiryInterval_; }  // 0x11
    void setSessionExpiryInterval(std::optional<std::int32_t> value) { sessionExpiryInterval_ = std::move(value); }
    const std::optional<std::string>& assignedClientIdentifier() const { return assignedClientIdentifier_; }  // 0x12
    void setAssignedClientIdentifier(std::optional<std::string> value) { assignedClientIdentifier_ = std::move(value); }
    const std::optional<std::int32_t>& serverKeepAlive() const { return serverKeepAlive_; }  // 0x13
    void setServerKeepAlive(std::optional<std::int32_t> value) { serverKeepAlive_ = std::move(value); }
    const std::optional<std::string>& authMethod() const { return authMethod_; }  // 0x15
    void setAuthMethod(std::optional<std::string> value) { authMethod_ = std::move(value); }
    const std::optional<platform::Bytes>& authData() const { return authData_; }  // 0x16
    void setAuthData(std::optional<platform::Bytes> value) { authData_ = std::move(value); }
    const std::optional<std::int32_t>& requestProblemInformation() const { return requestProblemInformation_; }  // 0x17
    void setRequestProblemInformation(std::optional<std::int32_t> value) { requestProblemInformation_ = std::move(value); }
    const std::optional<std::int32_t>& willDelayInterval() const { return willDelayInterval_; }  // 0x18
    void setWillDelayInterval(std::optional<std::int32_t> value) { willDelayInterval_ = std::move(value); }
    const std::optional<std::int32_t>& requestResponseInformation() const { return requestResponseInformation_; }  // 0x19
    void setRequestResponseInformation(std::optional<std::int32_t> value) { requestResponseInformation_ = std::move(value); }
    const std::optional<std::string>& responseInformation() const { return responseInformation_; }  // 0x1A
    void setResponseInformation(std::optional<std::string> value) { responseInformation_ = std::move(value); }
    const std::optional<std::string>& serverReference() const { return serverReference_; }  // 0x1C
    void setServerReference(std::optional<std::string> value) { serverReference_ = std::move(value); }
    const std::optional<std::string>& reasonString() const { return reasonString_; }  // 0x1F
    void setReasonString(std::optional<std::string> value) { reasonString_ = std::move(value); }
    const std::optional<std::int32_t>& receiveMaximum() const { return receiveMaximum_; }  // 0x21
    void setReceiveMaximum(std::optional<std::int32_t> value) { receiveMaximum_ = std::move(value); }
    const std::optional<std::int32_t>& topicAliasMaximum() const { return topicAliasMaximum_; }  // 0x22
    void setTopicAliasMaximum(std::optional<std::int32_t> value) { topicAliasMaximum_ = std::move(value); }
    const std::optional<std::int32_t>& topicAlias() const { return topicAlias_; }  // 0x23
    void setTopicAlias(std::optional<std::int32_t> value) { topicAlias_ = std::move(value); }
    const std::optional<std::int32_t>& maximumQoS() const { return maximumQoS_; }  // 0x24
    void setMaximumQoS(std::optional<std::int32_t> value) { maximumQoS_ = std::move(value); }
    const std::optional<std::int32_t>& retainAvailable() const { return retainAvailable_; }  // 0x25
    void setRetainAvailable(std::optional<std::int32_t> value) { retainAvailable_ = std::move(value); }
    // 0x26, text → text; created on the first pair, a repeated name keeps the last value.
    const std::optional<platform::Dictionary>& userProperty() const { return userProperty_; }
    void setUserProperty(std::optional<platform::Dictionary> value) { userProperty_ = std::move(value); }
    const std::optional<std::int32_t>& maximumPacketSize() const { return maximumPacketSize_; }  // 0x27
    void setMaximumPacketSize(std::optional<std::int32_t> value) { maximumPacketSize_ = std::move(value); }
    const std::optional<std::int32_t>& wildcardSubscriptionAvailable() const { return wildcardSubscriptionAvailable_; }  // 0x28
    void setWildcardSubscriptionAvailable(std::optional<std::int32_t> value) { wildcardSubscriptionAvailable_ = std::move(value); }
    const std::optional<std::int32_t>& subscriptionIdentifiersAvailable() const { return subscriptionIdentifiersAvailable_; }  // 0x29
    void setSubscriptionIdentifiersAvailable(std::optional<std::int32_t> value) { subscriptionIdentifiersAvailable_ = std::move(value); }
    const std::optional<std::int32_t>& sharedSubscriptionAvailable() const { return sharedSubscriptionAvailable_; }  // 0x2A
    void setSharedSubscriptionAvailable(std::optional<std::int32_t> value) { sharedSubscriptionAvailable_ = std::move(value); }

private:
    void initFromData(std::span<const std::uint8_t> data);

    std::optional<std::int32_t> payloadFormatIndicator_;
    std::optional<std::int32_t> publicationExpiryInterval_;
    std::optional<std::string> contentType_;
    std::optional<std::string> responseTopic_;
    std::optional<platform::Bytes> correlationData_;
    std::optional<std::int32_t> subscriptionIdentifier_;
    std::optional<std::int32_t> sessionExpiryInterval_;
    std::optional<std::string> assignedClientIdentifier_;
    std::optional<std::int32_t> serverKeepAlive_;
    std::optional<std::string> authMethod_;
    std::optional<platform::Bytes> authData_;
    std::optional<std::int32_t> requestProblemInformation_;
    std::optional<std::int32_t> willDelayInterval_;
    std::optional<std::int32_t> requestResponseInformation_;
    std::optional<std::string> responseInformation_;
    std::optional<std::string> serverReference_;
    std::optional<std::string> reasonString_;
    std::optional<std::int32_t> receiveMaximum_;
    std::optional<std::int32_t> topicAliasMaximum_;
    std::optional<std::int32_t> topicAlias_;
    std::optional<std::int32_t> maximumQoS_;
    std::optional<std::int32_t> retainAvailable_;
    std::optional<platform::Dictionary> userProperty_;
    std::optional<std::int32_t> maximumPacketSize_;
    std::optional<std::int32_t> wildcardSubscriptionAvailable_;
    std::optional<std::int32_t> subscriptionIdentifiersAvailable_;
    std::optional<std::int32_t> sharedSubscriptionAvailable_;
};

}  // namespace pellix
