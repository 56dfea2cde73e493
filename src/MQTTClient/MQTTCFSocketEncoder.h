// MQTTCFSocketEncoder: the socket transport's buffered writer.
//
// Owns the output stream of one connection. send() appends to its buffer and
// offers the whole buffer to the stream in one write; what the stream does
// not take stays, in order, and goes out at the next has-space event before
// anything sent later. The first has-space event (for TLS: after the
// handshake) makes the encoder ready and tells the delegate it is open.
//
// Threads: stream events arrive on the queue the stream is scheduled on;
// send() may be called from any thread — the encoder's lock makes append,
// write and trim one step. Delegate messages are sent without the lock.
// Destroying an encoder closes it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/Error.h"
#include "platform/SocketStreamPair.h"
#include "platform/Value.h"

namespace pellix {

enum MQTTCFSocketEncoderState : std::int64_t {
    MQTTCFSocketEncoderStateInitializing = 0,
    MQTTCFSocketEncoderStateReady = 1,
    MQTTCFSocketEncoderStateError = 2,
};

class MQTTCFSocketEncoder;

// All required.
class MQTTCFSocketEncoderDelegate {
public:
    virtual ~MQTTCFSocketEncoderDelegate() = default;
    virtual void encoderDidOpen(MQTTCFSocketEncoder& encoder) = 0;
    // didFailWithError
    virtual void encoder(MQTTCFSocketEncoder& encoder, platform::ErrorPtr error) = 0;
    virtual void encoderdidClose(MQTTCFSocketEncoder& encoder) = 0;
};

class MQTTCFSocketEncoder : public platform::SocketStreamDelegate,
                            public std::enable_shared_from_this<MQTTCFSocketEncoder> {
public:
    static std::shared_ptr<MQTTCFSocketEncoder> create();  // initializing, empty buffer, no stream
    ~MQTTCFSocketEncoder() override;
    MQTTCFSocketEncoder(const MQTTCFSocketEncoder&) = delete;
    MQTTCFSocketEncoder& operator=(const MQTTCFSocketEncoder&) = delete;

    // Becomes the stream's delegate and opens it.
    void open();
    // Closes the stream and stops listening to it.
    void close();
    // Appends data (when given) and writes as much of the buffer as the
    // stream takes. false, dropping the data, when not ready; false after a
    // failed write (state error; the stream's error event reports it).
    bool send(const platform::Bytes* data);
    bool send(const platform::Bytes& data) { return send(&data); }

    MQTTCFSocketEncoderState state() const;
    void setState(MQTTCFSocketEncoderState state);
    platform::ErrorPtr error() const;
    std::shared_ptr<platform::SocketOutputStream> stream() const;
    void setStream(std::shared_ptr<platform::SocketOutputStream> stream);
    std::shared_ptr<MQTTCFSocketEncoderDelegate> delegate() const;
    void setDelegate(std::weak_ptr<MQTTCFSocketEncoderDelegate> delegate);
    // Bytes accepted but not yet written.
    std::size_t bufferedLength() const;

    // SocketStreamDelegate
    // The other stream direction keeps the delegate's no-op body.
    using platform::SocketStreamDelegate::stream;
    void stream(platform::SocketOutputStream& stream, platform::StreamEvent event) override;

private:
    MQTTCFSocketEncoder() = default;
    void setStateLocked(MQTTCFSocketEncoderState state);

    mutable std::recursive_mutex mutex_;
    MQTTCFSocketEncoderState state_ = MQTTCFSocketEncoderStateInitializing;
    platform::ErrorPtr error_;
    std::shared_ptr<platform::SocketOutputStream> stream_;
    std::weak_ptr<MQTTCFSocketEncoderDelegate> delegate_;
    platform::Bytes buffer_;
};

}  // namespace pellix
