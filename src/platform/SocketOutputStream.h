// SocketOutputStream: the writing half of a SocketStreamPair (see there for
// events, errors and threads). An OutputStream: write() never blocks; it
// takes as many bytes as the stream's buffer has room for (possibly 0) and
// the socket thread sends them in order.
#pragma once

#include <memory>

#include "platform/OutputStream.h"
#include "platform/SocketStreamPair.h"
#include "platform/TLSSettings.h"

namespace pellix::platform {

class DispatchQueue;
class RunLoop;
class SocketConnection;

class SocketOutputStream final : public OutputStream {
public:
    explicit SocketOutputStream(std::shared_ptr<SocketConnection> connection);
    ~SocketOutputStream() override;
    SocketOutputStream(const SocketOutputStream&) = delete;
    SocketOutputStream& operator=(const SocketOutputStream&) = delete;

    void open() override;
    // Bytes written before close() are still sent (as far as the socket
    // takes them at once) before the connection is shut.
    void close() override;
    // The count taken (0 when the buffer is full or still connecting with a
    // full buffer); -1 after an error or when not open.
    std::int64_t write(const std::uint8_t* buffer, std::size_t length) override;
    bool hasSpaceAvailable() const;
    // NotOpen, Open (connecting or connected), Closed, Error.
    Status streamStatus() const override;
    ErrorPtr streamError() const override;

    void setDelegate(std::weak_ptr<SocketStreamDelegate> delegate);
    void scheduleInQueue(std::shared_ptr<DispatchQueue> queue);
    void scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop);
    bool setTLSSettings(const TLSSettings& settings);
    void setVoIP(bool voip);

    const std::shared_ptr<SocketConnection>& connection() const { return connection_; }

private:
    std::shared_ptr<SocketConnection> connection_;
};

}  // namespace pellix::platform
