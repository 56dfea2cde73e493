#pragma once
// What the GStreamer media needs before any pipeline exists: the library
// started once per process, the element set of each codec, and the UDP port
// pair of an RTP session.
//
// Threads: every function here is safe to call from any thread.
#include <gio/gio.h>
#include <gst/gst.h>

#include <cstdint>
#include <optional>
#include <string>

namespace client::media {

// Starts GStreamer once for the whole process (later calls return at once).
// False when it cannot start; the media then reports every stream as failed.
bool ensureGstreamer();

// True when the element factory is installed (plugins vary between hosts).
bool gstElementAvailable(const char* factory);

// The elements that carry one codec over RTP. Empty encoder: this host can
// only receive it.
struct CodecElements {
    const char* encodingName;  // as in rtpmap, upper case
    const char* media;         // "audio" or "video"
    int clockRate;             // fixed by the payload format, whatever an SDP says
    const char* encoder;       // launch text, without the payloader
    const char* payloader;
    const char* depayloader;
    const char* decoder;       // launch text after the depayloader
    const char* encoderFactory;
    const char* decoderFactory;
};

// The entry for an rtpmap encoding name (case-insensitive), if we carry it.
const CodecElements* codecElements(const std::string& encodingName);

// True when this host can both send and receive the codec: the signalling
// offers only these.
bool gstreamerCodecAvailable(const std::string& encodingName);

// An RTP socket on an even port and its RTCP socket on the next one, both
// bound to one local address. Owned here; pipelines borrow them.
class RtpSocketPair {
public:
    // Binds a fresh pair; check valid().
    explicit RtpSocketPair(const std::string& localAddress);
    ~RtpSocketPair();
    RtpSocketPair(const RtpSocketPair&) = delete;
    RtpSocketPair& operator=(const RtpSocketPair&) = delete;

    bool valid() const { return rtp_ != nullptr; }
    uint16_t rtpPort() const { return port_; }
    GSocket* rtp() const { return rtp_; }
    GSocket* rtcp() const { return rtcp_; }

private:
    GSocket* rtp_ = nullptr;
    GSocket* rtcp_ = nullptr;
    uint16_t port_ = 0;
};

}  // namespace client::media
