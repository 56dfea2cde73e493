// MQTTCFSocketDecoder: the socket transport's reader.
//
// Owns the input stream of one connection. Each has-bytes event reads once,
// at most 768 bytes, and hands exactly the bytes read to the delegate (an
// empty chunk when the read gave 0). End of stream and stream errors are
// passed on.
//
// Threads: stream events and delegate messages run on the queue the stream
// is scheduled on. open() and close() may be called from any thread.
// Destroying a decoder closes it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/Error.h"
#include "platform/SocketStreamPair.h"
#include "platform/Value.h"

namespace pellix {

enum MQTTCFSocketDecoderState : std::int64_t {
    MQTTCFSocketDecoderStateInitializing = 0,
    MQTTCFSocketDecoderStateReady = 1,
    MQTTCFSocketDecoderStateError = 2,
};

class MQTTCFSocketDecoder;

// All required.
class MQTTCFSocketDecoderDelegate {
public:
    virtual ~MQTTCFSocketDecoderDelegate() = default;
    // didReceiveMessage
    virtual void decoder(MQTTCFSocketDecoder& decoder, const platform::Bytes& data) = 0;
    virtual void decoderDidOpen(MQTTCFSocketDecoder& decoder) = 0;
    // didFailWithError
    virtual void decoder(MQTTCFSocketDecoder& decoder, platform::ErrorPtr error) = 0;
    virtual void decoderdidClose(MQTTCFSocketDecoder& decoder) = 0;
};

class MQTTCFSocketDecoder : public platform::SocketStreamDelegate,
                            public std::enable_shared_from_this<MQTTCFSocketDecoder> {
public:
    static constexpr std::size_t kReadSize = 768;

    static std::shared_ptr<MQTTCFSocketDecoder> create();  // initializing, no stream
    ~MQTTCFSocketDecoder() override;
    MQTTCFSocketDecoder(const MQTTCFSocketDecoder&) = delete;
    MQTTCFSocketDecoder& operator=(const MQTTCFSocketDecoder&) = delete;

    // Only in state initializing: becomes the stream's delegate and opens it.
    void open();
    // Closes the stream and stops listening to it.
    void close();

    MQTTCFSocketDecoderState state() const;
    void setState(MQTTCFSocketDecoderState state);
    platform::ErrorPtr error() const;
    std::shared_ptr<platform::SocketInputStream> stream() const;
    void setStream(std::shared_ptr<platform::SocketInputStream> stream);
    std::shared_ptr<MQTTCFSocketDecoderDelegate> delegate() const;
    void setDelegate(std::weak_ptr<MQTTCFSocketDecoderDelegate> delegate);

    // SocketStreamDelegate
    // The other stream direction keeps the delegate's no-op body.
    using platform::SocketStreamDelegate::stream;
    void stream(platform::SocketInputStream& stream, platform::StreamEvent event) override;

private:
    MQTTCFSocketDecoder() = default;

    mutable std::mutex mutex_;
    MQTTCFSocketDecoderState state_ = MQTTCFSocketDecoderStateInitializing;
    platform::ErrorPtr error_;
    std::shared_ptr<platform::SocketInputStream> stream_;
    std::weak_ptr<MQTTCFSocketDecoderDelegate> delegate_;
};

}  // namespace pellix
