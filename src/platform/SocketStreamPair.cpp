#include "platform/SocketStreamPair.h"

#include "platform/SocketConnection.h"
#include "platform/SocketInputStream.h"
#include "platform/SocketOutputStream.h"

namespace pellix::platform {

SocketStreamPair SocketStreamPair::create(std::string host, std::uint32_t port) {
    auto connection = std::make_shared<SocketConnection>(std::move(host), port);
    SocketStreamPair pair;
    pair.input = std::make_shared<SocketInputStream>(connection);
    pair.output = std::make_shared<SocketOutputStream>(connection);
    connection->attach(pair.input, pair.output);
    return pair;
}

}  // namespace pellix::platform
