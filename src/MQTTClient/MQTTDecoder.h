// MQTTDecoder: the session's packet stream decoder on a dispatch queue.
//
// The session makes one per connection, sets its queue and delegate, opens it
// and hands it every chunk of received bytes with decodeMessage(); each whole
// packet (fixed header, remaining-length field, remaining bytes) comes back
// through the delegate, in arrival order, on the queue. The framing itself is
// MQTTFrameDecoder's; this class adds the queue, the delegate and the chunks
// waiting while the decoder is not open.
//
// Failure: a remaining length that needs a fifth byte or exceeds 2,097,151 is
// reported once as MQTTDecoderEventProtocolError (error domain "MQTT", code
// -7) and the decoder stops reading (state 5) until it is opened again.
//
// Threads: decodeMessage() and close() may be called from any thread; every
// delegate call and all reading happen on the queue. close() waits for the
// queue, or runs at once when called on it (from a delegate call, say), and
// drops chunks not yet read. feed() is the synchronous entry point the queue
// blocks use, for callers that already run on the queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>

#include "MQTTClient/MQTTFrameDecoder.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix {

namespace platform {
class DispatchQueue;
}

enum MQTTDecoderEvent : std::uint32_t {
    MQTTDecoderEventProtocolError = 0,
    MQTTDecoderEventConnectionClosed = 1,
    MQTTDecoderEventConnectionError = 2,
};

class MQTTDecoder;

// Both methods are required.
class MQTTDecoderDelegate {
public:
    virtual ~MQTTDecoderDelegate() = default;
    // One whole packet; the view is valid during the call only.
    virtual void decoder(MQTTDecoder& decoder, std::span<const std::uint8_t> message) = 0;
    // An event of the stream, with its error.
    virtual void decoder(MQTTDecoder& decoder, MQTTDecoderEvent event, platform::ErrorPtr error) = 0;
};

class MQTTDecoder : public std::enable_shared_from_this<MQTTDecoder> {
public:
    // State idle, queue the main queue.
    static std::shared_ptr<MQTTDecoder> create();
    ~MQTTDecoder();
    MQTTDecoder(const MQTTDecoder&) = delete;
    MQTTDecoder& operator=(const MQTTDecoder&) = delete;

    // Marks the queue with this decoder's key so close() can tell when it
    // already runs there.
    void setQueue(std::shared_ptr<platform::DispatchQueue> queue);
    std::shared_ptr<platform::DispatchQueue> queue() const;
    void setDelegate(std::weak_ptr<MQTTDecoderDelegate> delegate);
    std::shared_ptr<MQTTDecoderDelegate> delegate() const;

    // State header: packets are read from here on (chunks that arrived while
    // idle are read next, on the queue). Call it on the queue, or before the
    // first chunk is handed over.
    void open();
    // Queues one chunk for reading on the queue.
    void decodeMessage(platform::Bytes data);
    // Stops reading and drops the chunks not yet read; state and delegate stay.
    void close();

    // Reads one chunk now, on the calling thread, which must be the queue's.
    void feed(std::span<const std::uint8_t> data);

    // Framing state; read on the queue (or once the queue is idle).
    MQTTDecoderState state() const { return frame_.state(); }
    std::uint32_t length() const { return frame_.length(); }
    std::uint32_t lengthMultiplier() const { return frame_.lengthMultiplier(); }
    std::int32_t offset() const { return frame_.offset(); }

private:
    MQTTDecoder();
    void internalClose();
    void drain(std::uint64_t generation);

    MQTTFrameDecoder frame_;
    mutable std::mutex mutex_;  // guards the fields below
    std::shared_ptr<platform::DispatchQueue> queue_;
    std::weak_ptr<MQTTDecoderDelegate> delegate_;
    std::deque<platform::Bytes> pending_;
    bool draining_ = false;
    // Bumped by close(): reads queued before it are dropped.
    std::uint64_t generation_ = 0;
};

}  // namespace pellix
