// SocketStreamPair: a non-blocking TCP connection (optionally TLS) as an
// input stream and an output stream with events, like the platform's socket
// stream pairs. Shared by the MQTT socket transports and the WebSocket client.
//
// Use:
//   auto pair = SocketStreamPair::create("broker", 8883);
//   pair.input->setTLSSettings(settings);          // optional, before open
//   pair.input->setDelegate(me);  pair.input->scheduleInQueue(queue);
//   pair.output->setDelegate(me); pair.output->scheduleInQueue(queue);
//   pair.input->open(); pair.output->open();
// Events then arrive on the scheduled queue (or run loop), one per call:
//   OpenCompleted       connected (after the TLS handshake), to both streams
//   HasSpaceAvailable   output: the first time when open, then whenever the
//                       stream's buffer has drained after writes
//   HasBytesAvailable   input: bytes wait to be read; delivered again after a
//                       handler that read and left bytes behind, or when new
//                       bytes come
//   EndEncountered      input: the peer closed and every byte has been read
//   ErrorOccurred       both: connect, name look-up, TLS or I/O failure;
//                       streamError() tells why. Reported once.
// After close() on the stream's scheduled queue a stream delivers nothing
// more (closed from another thread, an event already being delivered may
// still finish). The connection itself goes away when both streams are
// closed (or destroyed); bytes written before are still sent as far as the
// socket takes them at that moment. Of several addresses for a name (IPv6
// and IPv4 for "localhost", say) each is tried in turn until one connects.
//
// Errors: "NSPOSIXErrorDomain" with the errno for socket failures;
// "kCFErrorDomainCFNetwork" 2 (kCFHostErrorUnknown) for a failed name
// look-up (or a port above 65535), with the getaddrinfo code under
// "kCFGetAddrInfoFailureKey";
// "NSOSStatusErrorDomain" for TLS: -9807 untrusted chain, -9812 unknown root,
// -9813 no root (self-signed), -9814 expired, -9843 host name mismatch,
// -9824 handshake failure, -9806 connection closed during the handshake.
//
// Threads: the I/O runs on one shared epoll thread (the socket reactor).
// read()/write()/has…() may be called from any thread; events go to the
// scheduled queue (serial queues keep them in order). Reads and writes go
// through the streams' own buffers (256 KiB each), so they never block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pellix::platform {

class SocketInputStream;
class SocketOutputStream;

enum class StreamEvent : std::uint32_t {
    None = 0,
    OpenCompleted = 1,
    HasBytesAvailable = 2,
    HasSpaceAvailable = 4,
    ErrorOccurred = 8,
    EndEncountered = 16,
};

// Receiver of stream events; held weakly by the stream. Default bodies do
// nothing, so a reader implements the input one and a writer the output one.
class SocketStreamDelegate {
public:
    virtual ~SocketStreamDelegate() = default;
    virtual void stream(SocketInputStream& stream, StreamEvent event) {
        (void)stream;
        (void)event;
    }
    virtual void stream(SocketOutputStream& stream, StreamEvent event) {
        (void)stream;
        (void)event;
    }
};

struct SocketStreamPair {
    std::shared_ptr<SocketInputStream> input;
    std::shared_ptr<SocketOutputStream> output;

    // Two unopened streams over one future connection to host:port (name
    // looked up with getaddrinfo, IPv4 and IPv6, addresses tried in turn).
    static SocketStreamPair create(std::string host, std::uint32_t port);
};

}  // namespace pellix::platform
