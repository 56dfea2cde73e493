// BWAdditions: the WebSocket client's helpers on URLs, requests and the
// network thread, and the names of its read path.
//
//   BW_origin(url)                       the Origin value the handshake sends
//   BW_SSLPinnedCertificates(request)    the certificates (DER) a request
//   setSR_SSLPinnedCertificates(...)     carries for pinning, kept as the
//                                        request's "BW_SSLPinnedCertificates"
//                                        property, so they travel with every
//                                        copy; a socket created from the
//                                        request pins them
//   BW_networkRunLoop()                  the one shared network thread: the
//                                        socket layer's reactor, which does
//                                        every socket's I/O
//   BWIOConsumer, BWIOConsumerPool       the read path: the bytes a socket
//                                        reads go, in order, into one
//                                        BWFrameReader, which keeps its
//                                        header and payload buffers between
//                                        frames; it stands in for the queue of
//                                        pending reads and their reuse pool
//   BWFastLog(format, ...)               trace texts of the client; emits
//                                        nothing
//
// Thread-safety: as the request or URL passed; the reactor is thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "BWSocket/BWFrameReader.h"
#include "platform/SocketReactor.h"
#include "platform/URL.h"
#include "platform/URLRequest.h"

namespace pellix {

// "ws" becomes "http", "wss" "https"; the port only when it is not the
// scheme's default.
std::string BW_origin(const platform::URL& url);

inline constexpr const char* kBWSSLPinnedCertificatesKey = "BW_SSLPinnedCertificates";

// nullopt when the request carries none (an empty array is carried, and
// refuses every server).
std::optional<std::vector<platform::Bytes>> BW_SSLPinnedCertificates(const platform::URLRequest& request);
void setSR_SSLPinnedCertificates(platform::URLRequest& request,
                                 std::optional<std::vector<platform::Bytes>> certificates);

platform::SocketReactor& BW_networkRunLoop();

using BWIOConsumer = BWFrameReader;
using BWIOConsumerPool = BWFrameReader;

template <class... Args>
inline void BWFastLog(const char* /*format*/, const Args&... /*args*/) {}

}  // namespace pellix
