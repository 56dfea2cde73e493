#include "MQTTClient/MQTTTransport.h"

#include "MQTTClient/MQTTLog.h"
#include "platform/DispatchQueue.h"

namespace pellix {

MQTTTransport::MQTTTransport() = default;
MQTTTransport::~MQTTTransport() = default;

void MQTTTransport::open() { MQTT_LOG_ERROR("MQTTTransport is abstract class"); }

bool MQTTTransport::send(const platform::Bytes& data) {
    (void)data;
    MQTT_LOG_ERROR("MQTTTransport is abstract class");
    return false;
}

void MQTTTransport::close() { MQTT_LOG_ERROR("MQTTTransport is abstract class"); }

std::shared_ptr<platform::DispatchQueue> MQTTTransport::queue() const {
    std::lock_guard lock(mutex_);
    return queue_;
}
void MQTTTransport::setQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    std::lock_guard lock(mutex_);
    queue_ = std::move(queue);
}
std::optional<std::string> MQTTTransport::streamSSLLevel() const {
    std::lock_guard lock(mutex_);
    return streamSSLLevel_;
}
void MQTTTransport::setStreamSSLLevel(std::optional<std::string> level) {
    std::lock_guard lock(mutex_);
    streamSSLLevel_ = std::move(level);
}
std::optional<std::string> MQTTTransport::host() const {
    std::lock_guard lock(mutex_);
    return host_;
}
void MQTTTransport::setHost(std::optional<std::string> host) {
    std::lock_guard lock(mutex_);
    host_ = std::move(host);
}
std::uint32_t MQTTTransport::port() const {
    std::lock_guard lock(mutex_);
    return port_;
}
void MQTTTransport::setPort(std::uint32_t port) {
    std::lock_guard lock(mutex_);
    port_ = port;
}
std::shared_ptr<MQTTTransportDelegate> MQTTTransport::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}
void MQTTTransport::setDelegate(std::weak_ptr<MQTTTransportDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}
MQTTTransportState MQTTTransport::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}
void MQTTTransport::setState(MQTTTransportState state) {
    std::lock_guard lock(mutex_);
    state_ = state;
}

}  // namespace pellix
