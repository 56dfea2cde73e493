#include "MQTTClient/MQTTDecoder.h"

#include "MQTTClient/MQTTLog.h"
#include "platform/DispatchQueue.h"

namespace pellix {

namespace {

// Address whose identity is the key under which a decoder marks its queue.
const char queueIdentityKey = 0;

platform::ErrorPtr illegalLengthError() {
    platform::Dictionary info;
    info.set(platform::Error::kLocalizedDescriptionKey, platform::Value("MQTT illegal message received"));
    return platform::Error::make("MQTT", -7, std::move(info));
}

}  // namespace

std::shared_ptr<MQTTDecoder> MQTTDecoder::create() {
    std::shared_ptr<MQTTDecoder> decoder(new MQTTDecoder());
    decoder->setQueue(platform::DispatchQueue::main());
    return decoder;
}

MQTTDecoder::MQTTDecoder() = default;

MQTTDecoder::~MQTTDecoder() {
    // Nothing queued can reach a decoder that is being destroyed (the queued
    // reads hold it weakly), so dropping the chunks needs no trip to the queue.
    std::lock_guard lock(mutex_);
    pending_.clear();
}

void MQTTDecoder::setQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    std::lock_guard lock(mutex_);
    queue_ = std::move(queue);
    if (queue_) {
        queue_->setSpecific(&queueIdentityKey, queue_.get());
    }
}

std::shared_ptr<platform::DispatchQueue> MQTTDecoder::queue() const {
    std::lock_guard lock(mutex_);
    return queue_;
}

void MQTTDecoder::setDelegate(std::weak_ptr<MQTTDecoderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<MQTTDecoderDelegate> MQTTDecoder::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void MQTTDecoder::open() {
    frame_.open();
    std::unique_lock lock(mutex_);
    if (pending_.empty() || draining_ || !queue_) {
        return;
    }
    draining_ = true;
    auto queue = queue_;
    auto generation = generation_;
    lock.unlock();
    queue->async([weak = weak_from_this(), generation] {
        if (auto self = weak.lock()) {
            self->drain(generation);
        }
    });
}

void MQTTDecoder::decodeMessage(platform::Bytes data) {
    std::unique_lock lock(mutex_);
    pending_.push_back(std::move(data));
    const auto waiting = static_cast<unsigned long>(pending_.size());
    const bool schedule = !draining_ && queue_;
    if (!schedule) {
        lock.unlock();
        MQTT_LOG_VERBOSE("[MQTTDecoder] #streams=%lu", waiting);
        return;
    }
    draining_ = true;
    auto queue = queue_;
    auto generation = generation_;
    lock.unlock();
    MQTT_LOG_VERBOSE("[MQTTDecoder] #streams=%lu", waiting);
    queue->async([weak = weak_from_this(), generation] {
        if (auto self = weak.lock()) {
            self->drain(generation);
        }
    });
}

void MQTTDecoder::drain(std::uint64_t generation) {
    for (;;) {
        platform::Bytes chunk;
        {
            std::lock_guard lock(mutex_);
            if (generation != generation_) {
                return;  // closed since; a later read has its own block
            }
            if (frame_.state() == MQTTDecoderStateError) {
                pending_.clear();  // never read again: not worth holding
            }
            if (pending_.empty() || frame_.state() == MQTTDecoderStateIdle) {
                draining_ = false;
                return;
            }
            chunk = std::move(pending_.front());
            pending_.pop_front();
        }
        feed(chunk);
    }
}

void MQTTDecoder::feed(std::span<const std::uint8_t> data) {
    auto keepAlive = shared_from_this();  // a delegate may drop its last reference
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
    }
    const MQTTDecoderState before = frame_.state();
    frame_.feed(data, [&](std::span<const std::uint8_t> packet) {
        if (MQTTLog::enabled(MQTTLogLevelVerbose)) {
            MQTTLog::log(MQTTLogLevelVerbose, "[MQTTDecoder] fixedHeader=0x%02x", packet[0]);
            MQTTLog::log(MQTTLogLevelVerbose, "[MQTTDecoder] remainingLength=%d",
                         static_cast<int>(packet.size()) - frame_.offset());
            MQTTLog::log(MQTTLogLevelVerbose, "[MQTTDecoder] received (%lu)=%s...",
                         static_cast<unsigned long>(packet.size()), MQTTLog::describe(packet, 256).c_str());
        }
        if (auto delegate = this->delegate()) {
            delegate->decoder(*this, packet);
        }
        std::lock_guard lock(mutex_);
        return generation == generation_;
    });
    if (frame_.state() == MQTTDecoderStateError) {
        if (before != MQTTDecoderStateError) {
            MQTT_LOG_ERROR("[MQTTDecoder] illegal remaining length");
            if (auto delegate = this->delegate()) {
                delegate->decoder(*this, MQTTDecoderEventProtocolError, illegalLengthError());
            }
        }
        return;
    }
    if (frame_.state() == MQTTDecoderStateBody) {
        auto partial = frame_.buffered();
        MQTT_LOG_ERROR("[MQTTDecoder] oops received (%lu)=%s...", static_cast<unsigned long>(partial.size()),
                       MQTTLog::describe(partial, 256).c_str());
    }
}

void MQTTDecoder::close() {
    auto queue = this->queue();
    if (!queue || platform::DispatchQueue::getCurrentSpecific(&queueIdentityKey) == queue.get()) {
        internalClose();
    } else {
        queue->sync([this] { internalClose(); });
    }
}

void MQTTDecoder::internalClose() {
    std::lock_guard lock(mutex_);
    ++generation_;
    pending_.clear();
    draining_ = false;
}

}  // namespace pellix
