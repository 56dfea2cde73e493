#include "MQTTClient/MQTTCFSocketDecoder.h"

#include "MQTTClient/MQTTLog.h"
#include "platform/SocketInputStream.h"

namespace pellix {

std::shared_ptr<MQTTCFSocketDecoder> MQTTCFSocketDecoder::create() {
    return std::shared_ptr<MQTTCFSocketDecoder>(new MQTTCFSocketDecoder());
}

MQTTCFSocketDecoder::~MQTTCFSocketDecoder() {
    if (stream_) stream_->close();
}

void MQTTCFSocketDecoder::open() {
    std::shared_ptr<platform::SocketInputStream> s;
    {
        std::lock_guard lock(mutex_);
        if (state_ != MQTTCFSocketDecoderStateInitializing) return;
        s = stream_;
    }
    if (!s) return;
    s->setDelegate(weak_from_this());
    s->open();
}

void MQTTCFSocketDecoder::close() {
    auto s = stream();
    if (!s) return;
    s->close();
    s->setDelegate({});
}

void MQTTCFSocketDecoder::stream(platform::SocketInputStream& stream, platform::StreamEvent event) {
    using platform::StreamEvent;
    switch (event) {
    case StreamEvent::OpenCompleted:
        MQTT_LOG_VERBOSE("[MQTTCFSocketDecoder] NSStreamEventOpenCompleted");
        setState(MQTTCFSocketDecoderStateReady);
        if (auto d = delegate()) d->decoderDidOpen(*this);
        break;
    case StreamEvent::HasBytesAvailable: {
        MQTT_LOG_VERBOSE("[MQTTCFSocketDecoder] NSStreamEventHasBytesAvailable");
        {
            std::lock_guard lock(mutex_);
            if (state_ == MQTTCFSocketDecoderStateInitializing) state_ = MQTTCFSocketDecoderStateReady;
            if (state_ != MQTTCFSocketDecoderStateReady) break;
        }
        std::uint8_t buffer[kReadSize];
        std::int64_t n = stream.read(buffer, sizeof buffer);
        if (n == -1) {
            platform::ErrorPtr error = stream.streamError();
            {
                std::lock_guard lock(mutex_);
                state_ = MQTTCFSocketDecoderStateError;
                error_ = error;
            }
            if (auto d = delegate()) d->decoder(*this, error);
            break;
        }
        platform::Bytes data(buffer, buffer + n);
        MQTT_LOG_VERBOSE("[MQTTCFSocketDecoder] received (%lu)=%s...", static_cast<unsigned long>(data.size()),
                         MQTTLog::describe(data).c_str());
        if (auto d = delegate()) d->decoder(*this, data);
        break;
    }
    case StreamEvent::HasSpaceAvailable:
        MQTT_LOG_VERBOSE("[MQTTCFSocketDecoder] NSStreamEventHasSpaceAvailable");
        break;
    case StreamEvent::EndEncountered: {
        MQTT_LOG_VERBOSE("[MQTTCFSocketDecoder] NSStreamEventEndEncountered");
        {
            std::lock_guard lock(mutex_);
            state_ = MQTTCFSocketDecoderStateInitializing;
            error_ = nullptr;
        }
        if (auto d = delegate()) d->decoderdidClose(*this);
        break;
    }
    case StreamEvent::ErrorOccurred: {
        MQTT_LOG_VERBOSE("[MQTTCFSocketDecoder] NSStreamEventErrorOccurred");
        platform::ErrorPtr error = stream.streamError();
        {
            std::lock_guard lock(mutex_);
            state_ = MQTTCFSocketDecoderStateError;
            error_ = error;
        }
        if (auto d = delegate()) d->decoder(*this, error);
        break;
    }
    case StreamEvent::None:
        break;
    }
}

MQTTCFSocketDecoderState MQTTCFSocketDecoder::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void MQTTCFSocketDecoder::setState(MQTTCFSocketDecoderState state) {
    std::lock_guard lock(mutex_);
    state_ = state;
}

platform::ErrorPtr MQTTCFSocketDecoder::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::shared_ptr<platform::SocketInputStream> MQTTCFSocketDecoder::stream() const {
    std::lock_guard lock(mutex_);
    return stream_;
}

void MQTTCFSocketDecoder::setStream(std::shared_ptr<platform::SocketInputStream> stream) {
    std::lock_guard lock(mutex_);
    stream_ = std::move(stream);
}

std::shared_ptr<MQTTCFSocketDecoderDelegate> MQTTCFSocketDecoder::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void MQTTCFSocketDecoder::setDelegate(std::weak_ptr<MQTTCFSocketDecoderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

}  // namespace pellix
