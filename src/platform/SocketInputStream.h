// SocketInputStream: the reading half of a SocketStreamPair (see there for
// events, errors and threads). An InputStream, so code that reads streams
// can read it too: read() never blocks and answers 0 while no bytes wait
// (hasBytesAvailable() tells them apart from the end, which streamStatus()
// reports as AtEnd).
#pragma once

#include <memory>

#include "platform/InputStream.h"
#include "platform/SocketStreamPair.h"
#include "platform/TLSSettings.h"

namespace pellix::platform {

class DispatchQueue;
class RunLoop;
class SocketConnection;

class SocketInputStream final : public InputStream {
public:
    explicit SocketInputStream(std::shared_ptr<SocketConnection> connection);
    ~SocketInputStream() override;
    SocketInputStream(const SocketInputStream&) = delete;
    SocketInputStream& operator=(const SocketInputStream&) = delete;

    // Starts connecting (the first open of either stream starts the pair).
    void open() override;
    void close() override;
    // Up to maxLength buffered bytes; 0 when none wait or at the end; -1
    // after an error or when not open.
    std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override;
    bool hasBytesAvailable() const;
    // NotOpen before open(); Open while connecting and connected; AtEnd
    // once the peer closed and all was read; Closed; Error.
    Status streamStatus() const override;
    ErrorPtr streamError() const override;

    void setDelegate(std::weak_ptr<SocketStreamDelegate> delegate);
    // Where events are delivered; set one before open().
    void scheduleInQueue(std::shared_ptr<DispatchQueue> queue);
    void scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop);
    // TLS for the whole pair (either stream may set it, before open()).
    // false, changing nothing, when the settings are refused.
    bool setTLSSettings(const TLSSettings& settings);
    // Marks the pair's socket as VoIP traffic (a higher socket priority).
    void setVoIP(bool voip);

    const std::shared_ptr<SocketConnection>& connection() const { return connection_; }

private:
    std::shared_ptr<SocketConnection> connection_;
};

}  // namespace pellix::platform
