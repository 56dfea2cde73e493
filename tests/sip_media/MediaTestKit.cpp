#include "MediaTestKit.h"

#include "SipEngineSDK/media/GstCallMedia.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace pellix::test::media {

void RecordingRenderer::renderFrame(const client::media::VideoFrame& frame) {
    std::lock_guard lock(mutex_);
    last_ = frame;
    ++count_;
}

client::media::VideoFrame RecordingRenderer::last() const {
    std::lock_guard lock(mutex_);
    return last_;
}

int RecordingRenderer::count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

std::array<int, 4> RecordingRenderer::pixel(int x, int y) const {
    std::lock_guard lock(mutex_);
    if (x < 0 || y < 0 || x >= last_.width || y >= last_.height) return {-1, -1, -1, -1};
    const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(last_.width) + static_cast<size_t>(x)) * 4;
    return {last_.rgba[at], last_.rgba[at + 1], last_.rgba[at + 2], last_.rgba[at + 3]};
}

UdpSocket::UdpSocket(const std::string& address, uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        if (fd_ >= 0) ::close(fd_);
        throw std::runtime_error("cannot bind UDP " + address + ":" + std::to_string(port));
    }
    socklen_t length = sizeof where;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&where), &length);
    port_ = ntohs(where.sin_port);
}

UdpSocket::~UdpSocket() { ::close(fd_); }

void UdpSocket::sendTo(const std::vector<uint8_t>& bytes, uint16_t port, const std::string& address) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

uint16_t freeRtpPort() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        UdpSocket probe;
        if (probe.port() % 2 != 0 || probe.port() == 65535) continue;
        try {
            UdpSocket next("127.0.0.1", static_cast<uint16_t>(probe.port() + 1));
        } catch (const std::exception&) {
            continue;
        }
        return probe.port();
    }
    throw std::runtime_error("no free RTP port pair");
}

UdpEcho::UdpEcho() {
    const uint16_t port = freeRtpPort();
    rtp_ = std::make_unique<UdpSocket>("127.0.0.1", port);
    rtcp_ = std::make_unique<UdpSocket>("127.0.0.1", static_cast<uint16_t>(port + 1));
    thread_ = std::thread([this] {
        pollfd fds[2] = {{rtp_->fd(), POLLIN, 0}, {rtcp_->fd(), POLLIN, 0}};
        uint8_t buffer[2048];
        while (!stop_) {
            if (::poll(fds, 2, 20) <= 0) continue;
            for (const pollfd& p : fds) {
                if (!(p.revents & POLLIN)) continue;
                sockaddr_storage from{};
                socklen_t length = sizeof from;
                const ssize_t n = ::recvfrom(p.fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
                if (n <= 0) continue;
                ::sendto(p.fd, buffer, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), length);
                ++echoed_;
            }
        }
    });
}

UdpEcho::~UdpEcho() {
    stop_ = true;
    thread_.join();
}

std::vector<uint8_t> rtpPacket(int payloadType, uint16_t sequence, uint32_t timestamp, uint32_t ssrc,
                               const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> p = {0x80, static_cast<uint8_t>(payloadType & 0x7f),
                              static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence),
                              static_cast<uint8_t>(timestamp >> 24), static_cast<uint8_t>(timestamp >> 16),
                              static_cast<uint8_t>(timestamp >> 8), static_cast<uint8_t>(timestamp),
                              static_cast<uint8_t>(ssrc >> 24), static_cast<uint8_t>(ssrc >> 16),
                              static_cast<uint8_t>(ssrc >> 8), static_cast<uint8_t>(ssrc)};
    p.resize(12 + payload.size());
    for (size_t i = 0; i < payload.size(); ++i) p[12 + i] = payload[i];
    return p;
}

std::unique_ptr<Process> gstPeer(const std::string& description, bool verbose) {
    // gst-launch-1.0 takes each argument as one token of the pipeline.
    std::vector<std::string> argv = {"gst-launch-1.0", verbose ? "-v" : "-q"};
    std::istringstream words(description);
    for (std::string word; words >> word;) argv.push_back(word);
    return std::make_unique<Process>(argv);
}

std::string toneSource(int frequency) {
    return "audiotestsrc is-live=true wave=sine volume=0.5 samplesperbuffer=160 freq=" + std::to_string(frequency);
}

std::string rawSink(const std::string& path) {
    return "audio/x-raw,format=S16LE,channels=1,rate=8000 ! filesink buffer-mode=unbuffered location=" + path;
}

void MediaFixture::SetUp() {
    if (!client::media::ensureGstreamer()) GTEST_SKIP() << "GStreamer cannot start here";
}

client::media::MediaSettings MediaFixture::settings() const {
    client::media::MediaSettings s;
    s.audio.sourceDescription = toneSource(1000);
    s.audio.sinkDescription = "fakesink";
    s.jitterBufferMs = 40;
    return s;
}

std::unique_ptr<CallMedia> MediaFixture::makeMedia(const client::media::MediaSettings& s) {
    return client::media::gstreamerCallMediaFactory()(s);
}

bool MediaFixture::pumpUntil(CallMedia& media, const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (true) {
        media.poll(events);
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(20ms);
    }
}

void MediaFixture::pumpFor(CallMedia& media, std::chrono::milliseconds duration) {
    pumpUntil(media, [] { return false; }, duration);
}

bool MediaFixture::saw(MediaEvent::Type type, StreamKind kind) const {
    for (const auto& e : events)
        if (e.type == type && e.kind == kind) return true;
    return false;
}

const MediaEvent* MediaFixture::last(MediaEvent::Type type) const {
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (it->type == type) return &*it;
    return nullptr;
}

size_t MediaFixture::countOf(MediaEvent::Type type) const {
    size_t n = 0;
    for (const auto& e : events) n += e.type == type;
    return n;
}

client::media::StreamPlan MediaFixture::plan(StreamKind kind, const std::string& codec, int payloadType,
                                             uint16_t remotePort, client::media::Direction direction) {
    client::media::StreamPlan p;
    p.kind = kind;
    p.active = true;
    p.remoteAddress = "127.0.0.1";
    p.remoteRtpPort = remotePort;
    p.codec.name = codec;
    p.codec.payloadType = payloadType;
    p.codec.clockRate = kind == StreamKind::Video ? 90000 : 8000;
    p.direction = direction;
    return p;
}

}  // namespace pellix::test::media
