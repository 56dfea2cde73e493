#include "MQTTClient/MQTTCFSocketEncoder.h"

#include <algorithm>

#include "MQTTClient/MQTTLog.h"
#include "platform/SocketOutputStream.h"

namespace pellix {

std::shared_ptr<MQTTCFSocketEncoder> MQTTCFSocketEncoder::create() {
    return std::shared_ptr<MQTTCFSocketEncoder>(new MQTTCFSocketEncoder());
}

MQTTCFSocketEncoder::~MQTTCFSocketEncoder() {
    if (stream_) stream_->close();
}

void MQTTCFSocketEncoder::open() {
    auto s = stream();
    if (!s) return;
    s->setDelegate(weak_from_this());
    s->open();
}

void MQTTCFSocketEncoder::close() {
    auto s = stream();
    if (!s) return;
    s->close();
    s->setDelegate({});
}

bool MQTTCFSocketEncoder::send(const platform::Bytes* data) {
    std::lock_guard lock(mutex_);
    if (state_ != MQTTCFSocketEncoderStateReady) {
        MQTT_LOG_INFO("[MQTTCFSocketEncoder] not MQTTCFSocketEncoderStateReady");
        return false;
    }
    if (data) buffer_.insert(buffer_.end(), data->begin(), data->end());
    if (buffer_.empty()) return true;
    MQTT_LOG_VERBOSE("[MQTTCFSocketEncoder] buffer to write (%lu)=%s...", static_cast<unsigned long>(buffer_.size()),
                     MQTTLog::describe(buffer_).c_str());
    std::int64_t n = stream_ ? stream_->write(buffer_.data(), buffer_.size()) : -1;
    if (n == -1) {
        error_ = stream_ ? stream_->streamError() : nullptr;
        MQTT_LOG_VERBOSE("[MQTTCFSocketEncoder] streamError: %s", error_ ? error_->description().c_str() : "(null)");
        setStateLocked(MQTTCFSocketEncoderStateError);
        return false;
    }
    if (static_cast<std::size_t>(n) < buffer_.size()) {
        MQTT_LOG_VERBOSE("[MQTTCFSocketEncoder] buffer partially written: %ld", static_cast<long>(n));
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
    return true;
}

void MQTTCFSocketEncoder::stream(platform::SocketOutputStream& stream, platform::StreamEvent event) {
    using platform::StreamEvent;
    switch (event) {
    case StreamEvent::OpenCompleted:
        MQTT_LOG_VERBOSE("[MQTTCFSocketEncoder] NSStreamEventOpenCompleted");
        break;
    case StreamEvent::HasBytesAvailable:
        MQTT_LOG_VERBOSE("[MQTTCFSocketEncoder] NSStreamEventHasBytesAvailable");
        break;
    case StreamEvent::HasSpaceAvailable: {
        MQTT_LOG_VERBOSE("[MQTTCFSocketEncoder] NSStreamEventHasSpaceAvailable");
        bool opened = false;
        bool flush;
        {
            std::lock_guard lock(mutex_);
            if (state_ == MQTTCFSocketEncoderStateInitializing) {
                setStateLocked(MQTTCFSocketEncoderStateReady);
                opened = true;
            }
        }
        if (opened) {
            if (auto d = delegate()) d->encoderDidOpen(*this);
        }
        {
            std::lock_guard lock(mutex_);
            flush = state_ == MQTTCFSocketEncoderStateReady && !buffer_.empty();
        }
        if (flush) send(nullptr);
        break;
    }
    case StreamEvent::EndEncountered: {
        MQTT_LOG_VERBOSE("[MQTTCFSocketEncoder] NSStreamEventEndEncountered");
        {
            std::lock_guard lock(mutex_);
            setStateLocked(MQTTCFSocketEncoderStateInitializing);
            error_ = nullptr;
        }
        if (auto d = delegate()) d->encoderdidClose(*this);
        break;
    }
    case StreamEvent::ErrorOccurred: {
        MQTT_LOG_VERBOSE("[MQTTCFSocketEncoder] NSStreamEventErrorOccurred");
        platform::ErrorPtr error = stream.streamError();
        {
            std::lock_guard lock(mutex_);
            setStateLocked(MQTTCFSocketEncoderStateError);
            error_ = error;
        }
        if (auto d = delegate()) d->encoder(*this, error);
        break;
    }
    case StreamEvent::None:
        break;
    }
}

MQTTCFSocketEncoderState MQTTCFSocketEncoder::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void MQTTCFSocketEncoder::setState(MQTTCFSocketEncoderState state) {
    std::lock_guard lock(mutex_);
    setStateLocked(state);
}

void MQTTCFSocketEncoder::setStateLocked(MQTTCFSocketEncoderState state) {
    MQTT_LOG_VERBOSE("[MQTTCFSocketEncoder] setState %ld/%ld", static_cast<long>(state_), static_cast<long>(state));
    state_ = state;
}

platform::ErrorPtr MQTTCFSocketEncoder::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::shared_ptr<platform::SocketOutputStream> MQTTCFSocketEncoder::stream() const {
    std::lock_guard lock(mutex_);
    return stream_;
}

void MQTTCFSocketEncoder::setStream(std::shared_ptr<platform::SocketOutputStream> stream) {
    std::lock_guard lock(mutex_);
    stream_ = std::move(stream);
}

std::shared_ptr<MQTTCFSocketEncoderDelegate> MQTTCFSocketEncoder::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void MQTTCFSocketEncoder::setDelegate(std::weak_ptr<MQTTCFSocketEncoderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::size_t MQTTCFSocketEncoder::bufferedLength() const {
    std::lock_guard lock(mutex_);
    return buffer_.size();
}

}  // namespace pellix
