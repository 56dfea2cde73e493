#include "SipEngineSDK/media/GstSupport.h"

#include <gio/gio.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>

namespace client::media {

namespace {

// Every codec that some element of the GStreamer packages on Debian 12 both
// encodes and decodes, and carries over RTP. iSAC is not here: the payloader
// exists, but no element encodes or decodes it.
constexpr std::array<CodecElements, 7> kCodecs{{
    {"OPUS", "audio", 48000, "opusenc", "rtpopuspay", "rtpopusdepay", "opusdec", "opusenc", "opusdec"},
    {"PCMU", "audio", 8000, "mulawenc", "rtppcmupay", "rtppcmudepay", "mulawdec", "mulawenc", "mulawdec"},
    {"PCMA", "audio", 8000, "alawenc", "rtppcmapay", "rtppcmadepay", "alawdec", "alawenc", "alawdec"},
    // No G.729 encoder ships with the GStreamer plugin packages; the decoder
    // does, so a host that installs an encoder named avenc_g729 gets both ways.
    {"G729", "audio", 8000, "avenc_g729", "rtpg729pay", "rtpg729depay", "avdec_g729", "avenc_g729", "avdec_g729"},
    {"VP8", "video", 90000, "vp8enc", "rtpvp8pay", "rtpvp8depay", "vp8dec", "vp8enc", "vp8dec"},
    {"VP9", "video", 90000, "vp9enc", "rtpvp9pay", "rtpvp9depay", "vp9dec", "vp9enc", "vp9dec"},
    {"H264", "video", 90000, "x264enc", "rtph264pay", "rtph264depay", "h264parse ! avdec_h264", "x264enc", "avdec_h264"},
}};

GSocket* bindUdp(GInetAddress* address, uint16_t port) {
    GSocket* socket = g_socket_new(g_inet_address_get_family(address), G_SOCKET_TYPE_DATAGRAM,
                                   G_SOCKET_PROTOCOL_UDP, nullptr);
    if (!socket) return nullptr;
    GSocketAddress* where = g_inet_socket_address_new(address, port);
    const bool bound = g_socket_bind(socket, where, FALSE, nullptr);
    g_object_unref(where);
    if (!bound) {
        g_object_unref(socket);
        return nullptr;
    }
    return socket;
}

uint16_t boundPort(GSocket* socket) {
    GSocketAddress* local = g_socket_get_local_address(socket, nullptr);
    if (!local) return 0;
    const uint16_t port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local));
    g_object_unref(local);
    return port;
}

}  // namespace

bool ensureGstreamer() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] { started = gst_init_check(nullptr, nullptr, nullptr); });
    return started;
}

bool gstElementAvailable(const char* factory) {
    if (!factory || !ensureGstreamer()) return false;
    GstElementFactory* found = gst_element_factory_find(factory);
    if (!found) return false;
    gst_object_unref(found);
    return true;
}

const CodecElements* codecElements(const std::string& encodingName) {
    std::string upper = encodingName;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    for (const auto& codec : kCodecs) {
        if (upper == codec.encodingName) return &codec;
    }
    return nullptr;
}

bool gstreamerCodecAvailable(const std::string& encodingName) {
    const CodecElements* codec = codecElements(encodingName);
    if (!codec) return false;
    // Asked several times for every call's offer and answer: the registry is
    // looked up once per process (plugins do not come and go while it runs).
    static const auto available = [] {
        std::array<bool, kCodecs.size()> a{};
        for (std::size_t i = 0; i < kCodecs.size(); ++i) {
            const CodecElements& c = kCodecs[i];
            a[i] = gstElementAvailable(c.encoderFactory) && gstElementAvailable(c.decoderFactory) &&
                   gstElementAvailable(c.payloader) && gstElementAvailable(c.depayloader);
        }
        return a;
    }();
    return available[static_cast<std::size_t>(codec - kCodecs.data())];
}

RtpSocketPair::RtpSocketPair(const std::string& localAddress) {
    GInetAddress* address = g_inet_address_new_from_string(localAddress.c_str());
    if (!address) return;
    // The kernel picks a free port; an odd one, or one whose neighbour is
    // taken, is given back and another is tried.
    for (int attempt = 0; attempt < 64 && !rtp_; ++attempt) {
        GSocket* rtp = bindUdp(address, 0);
        if (!rtp) break;
        const uint16_t port = boundPort(rtp);
        GSocket* rtcp = (port % 2 == 0 && port < 65535) ? bindUdp(address, port + 1) : nullptr;
        if (!rtcp) {
            g_object_unref(rtp);
            continue;
        }
        rtp_ = rtp;
        rtcp_ = rtcp;
        port_ = port;
    }
    g_object_unref(address);
}

RtpSocketPair::~RtpSocketPair() {
    for (GSocket* socket : {rtp_, rtcp_}) {
        if (!socket) continue;
        g_socket_close(socket, nullptr);
        g_object_unref(socket);
    }
}

}  // namespace client::media
