#include "platform/SocketOutputStream.h"

#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "platform/SocketConnection.h"

namespace pellix::platform {

namespace {
constexpr auto kSide = SocketConnection::Side::Output;
}

SocketOutputStream::SocketOutputStream(std::shared_ptr<SocketConnection> connection)
    : connection_(std::move(connection)) {}

SocketOutputStream::~SocketOutputStream() { connection_->close(kSide); }

void SocketOutputStream::open() { connection_->open(kSide); }
void SocketOutputStream::close() { connection_->close(kSide); }
ErrorPtr SocketOutputStream::streamError() const { return connection_->error(); }

void SocketOutputStream::setDelegate(std::weak_ptr<SocketStreamDelegate> delegate) {
    connection_->setDelegate(kSide, std::move(delegate));
}

void SocketOutputStream::scheduleInQueue(std::shared_ptr<DispatchQueue> queue) {
    connection_->schedule(kSide, [queue](std::function<void()> block) { queue->async(std::move(block)); });
}

void SocketOutputStream::scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop) {
    connection_->schedule(kSide, [runLoop](std::function<void()> block) { runLoop->perform(std::move(block)); });
}

bool SocketOutputStream::setTLSSettings(const TLSSettings& settings) { return connection_->setTLSSettings(settings); }
void SocketOutputStream::setVoIP(bool voip) { connection_->setVoIP(voip); }

std::int64_t SocketOutputStream::write(const std::uint8_t* buffer, std::size_t length) {
    return connection_->write(buffer, length);
}
bool SocketOutputStream::hasSpaceAvailable() const { return connection_->hasSpaceAvailable(); }
OutputStream::Status SocketOutputStream::streamStatus() const { return connection_->outputStatus(); }

}  // namespace pellix::platform
