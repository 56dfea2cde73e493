// PellixMqttOption: a record of MQTT connection options (client id,
// credentials, keep-alive, clean session, will, protocol level, run loop).
//
// The constructor (`init`) leaves every field zero or absent; defaultOption()
// gives keep-alive 60 s and protocol level 4 with every flag off. Neither
// MQTT manager reads the record: it is part of the exported surface only.
//
// A plain value holder: not synchronised, no failure cases.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Value.h"

namespace pellix {

namespace platform {
class RunLoop;
}

class PellixMqttOption {
public:
    static std::shared_ptr<PellixMqttOption> create() { return std::make_shared<PellixMqttOption>(); }
    static std::shared_ptr<PellixMqttOption> defaultOption();

    const std::optional<std::string>& clientId() const { return clientId_; }
    void setClientId(std::optional<std::string> v) { clientId_ = std::move(v); }
    const std::optional<std::string>& userName() const { return userName_; }
    void setUserName(std::optional<std::string> v) { userName_ = std::move(v); }
    const std::optional<std::string>& password() const { return password_; }
    void setPassword(std::optional<std::string> v) { password_ = std::move(v); }
    std::uint16_t keepAliveInterval() const { return keepAliveInterval_; }
    void setKeepAliveInterval(std::uint16_t seconds) { keepAliveInterval_ = seconds; }
    bool cleanSessionFlag() const { return cleanSessionFlag_; }
    void setCleanSessionFlag(bool v) { cleanSessionFlag_ = v; }
    bool willFlag() const { return willFlag_; }
    void setWillFlag(bool v) { willFlag_ = v; }
    const std::optional<std::string>& willTopic() const { return willTopic_; }
    void setWillTopic(std::optional<std::string> v) { willTopic_ = std::move(v); }
    const std::optional<platform::Bytes>& willMsg() const { return willMsg_; }
    void setWillMsg(std::optional<platform::Bytes> v) { willMsg_ = std::move(v); }
    std::uint8_t willQos() const { return willQos_; }
    void setWillQos(std::uint8_t v) { willQos_ = v; }
    bool willRetainFlag() const { return willRetainFlag_; }
    void setWillRetainFlag(bool v) { willRetainFlag_ = v; }
    std::uint8_t protocolLevel() const { return protocolLevel_; }
    void setProtocolLevel(std::uint8_t v) { protocolLevel_ = v; }
    const std::shared_ptr<platform::RunLoop>& runloop() const { return runloop_; }
    void setRunloop(std::shared_ptr<platform::RunLoop> v) { runloop_ = std::move(v); }
    const std::optional<std::string>& runloopMode() const { return runloopMode_; }
    void setRunloopMode(std::optional<std::string> v) { runloopMode_ = std::move(v); }

private:
    std::optional<std::string> clientId_;
    std::optional<std::string> userName_;
    std::optional<std::string> password_;
    std::uint16_t keepAliveInterval_ = 0;
    bool cleanSessionFlag_ = false;
    bool willFlag_ = false;
    std::optional<std::string> willTopic_;
    std::optional<platform::Bytes> willMsg_;
    std::uint8_t willQos_ = 0;
    bool willRetainFlag_ = false;
    std::uint8_t protocolLevel_ = 0;
    std::shared_ptr<platform::RunLoop> runloop_;
    std::optional<std::string> runloopMode_;
};

}  // namespace pellix
