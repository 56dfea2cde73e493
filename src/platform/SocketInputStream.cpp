#include "platform/SocketInputStream.h"

#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "platform/SocketConnection.h"

namespace pellix::platform {

namespace {
constexpr auto kSide = SocketConnection::Side::Input;
}

SocketInputStream::SocketInputStream(std::shared_ptr<SocketConnection> connection)
    : connection_(std::move(connection)) {}

SocketInputStream::~SocketInputStream() { connection_->close(kSide); }

void SocketInputStream::open() { connection_->open(kSide); }
void SocketInputStream::close() { connection_->close(kSide); }
ErrorPtr SocketInputStream::streamError() const { return connection_->error(); }

void SocketInputStream::setDelegate(std::weak_ptr<SocketStreamDelegate> delegate) {
    connection_->setDelegate(kSide, std::move(delegate));
}

void SocketInputStream::scheduleInQueue(std::shared_ptr<DispatchQueue> queue) {
    connection_->schedule(kSide, [queue](std::function<void()> block) { queue->async(std::move(block)); });
}

void SocketInputStream::scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop) {
    connection_->schedule(kSide, [runLoop](std::function<void()> block) { runLoop->perform(std::move(block)); });
}

bool SocketInputStream::setTLSSettings(const TLSSettings& settings) { return connection_->setTLSSettings(settings); }
void SocketInputStream::setVoIP(bool voip) { connection_->setVoIP(voip); }

std::int64_t SocketInputStream::read(std::uint8_t* buffer, std::size_t maxLength) {
    return connection_->read(buffer, maxLength);
}
bool SocketInputStream::hasBytesAvailable() const { return connection_->hasBytesAvailable(); }
InputStream::Status SocketInputStream::streamStatus() const { return connection_->inputStatus(); }

}  // namespace pellix::platform
