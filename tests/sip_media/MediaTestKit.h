// Test kit for the call media: a fixture that pumps poll() like the engine
// does, renderers that keep what they were given, tone analysis, raw UDP
// peers, and gst-launch-1.0 peers.
#pragma once

#include "SipEngineSDK/CallMedia.h"
#include "SipEngineSDK/SipEngine.h"
#include "SipEngineSDK/media/GstSupport.h"
#include "support/TestSupport.h"
#include "support/ToneAnalysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pellix::test::media {

// The states an engine's calls went through, in order, and the call that
// reported last.
struct States : client::CallStateObserver {
    void OnCallStateChange(client::Call* call, client::Call::CallState state) override {
        last = call;
        seen.push_back(state);
    }
    void OnDtmf(client::Call*, const char*) override {}
    void OnMediaStreamUpdate(client::Call*, client::CallMediaStreamType, client::Call::MediaDirection) override {}
    bool reached(int state) const { return std::find(seen.begin(), seen.end(), state) != seen.end(); }
    client::Call* last = nullptr;
    std::vector<int> seen;
};

using namespace std::chrono_literals;
using client::media::CallMedia;
using client::media::MediaEvent;
using client::media::StreamKind;

// Keeps the last picture it was given and counts them.
class RecordingRenderer : public client::media::VideoRenderer {
public:
    void renderFrame(const client::media::VideoFrame& frame) override;
    client::media::VideoFrame last() const;
    int count() const;
    // RGBA of the pixel at (x, y) of the last picture.
    std::array<int, 4> pixel(int x, int y) const;

private:
    mutable std::mutex mutex_;
    client::media::VideoFrame last_;
    int count_ = 0;
};

// File size and tone analysis, shared with the other media-carrying tests.
using test::fileSize;
using test::readSamples;
using test::rms;
using test::toneShare;

// A UDP socket on a loopback address; port 0 lets the kernel choose.
class UdpSocket {
public:
    explicit UdpSocket(const std::string& address = "127.0.0.1", uint16_t port = 0);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    uint16_t port() const { return port_; }
    int fd() const { return fd_; }
    void sendTo(const std::vector<uint8_t>& bytes, uint16_t port, const std::string& address = "127.0.0.1");

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// An even UDP port whose neighbour was free too a moment ago.
uint16_t freeRtpPort();

// Sends every datagram back to where it came from, on an RTP port and the
// RTCP port after it, until destroyed.
class UdpEcho {
public:
    UdpEcho();
    ~UdpEcho();
    uint16_t port() const { return rtp_->port(); }
    uint64_t echoed() const { return echoed_; }

private:
    std::unique_ptr<UdpSocket> rtp_, rtcp_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> echoed_{0};
    std::thread thread_;
};

// One RTP packet.
std::vector<uint8_t> rtpPacket(int payloadType, uint16_t sequence, uint32_t timestamp, uint32_t ssrc,
                               const std::vector<uint8_t>& payload);

// A gst-launch-1.0 pipeline as a peer; stopped (SIGTERM) when destroyed.
std::unique_ptr<Process> gstPeer(const std::string& description, bool verbose = false);

// Skips the test unless every element is installed.
#define REQUIRE_GST_ELEMENTS(...)                                                       \
    do {                                                                                \
        for (const char* element : {__VA_ARGS__})                                       \
            if (!client::media::gstElementAvailable(element))                           \
                GTEST_SKIP() << "GStreamer element " << element << " is not installed"; \
    } while (0)

class MediaFixture : public ::testing::Test {
protected:
    void SetUp() override;
    client::media::MediaSettings settings() const;
    std::unique_ptr<CallMedia> makeMedia(const client::media::MediaSettings& s);
    // Pumps poll() every 20 ms into `events` until the predicate holds.
    bool pumpUntil(CallMedia& media, const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s);
    void pumpFor(CallMedia& media, std::chrono::milliseconds duration);
    bool saw(MediaEvent::Type type, StreamKind kind) const;
    const MediaEvent* last(MediaEvent::Type type) const;
    size_t countOf(MediaEvent::Type type) const;
    static client::media::StreamPlan plan(StreamKind kind, const std::string& codec, int payloadType, uint16_t remotePort,
                                          client::media::Direction direction = client::media::Direction::SendReceive);

    TempDir dir;
    std::vector<MediaEvent> events;
};

// The pipeline text of a test sound source and a raw sink that records to a file.
std::string toneSource(int frequency);
std::string rawSink(const std::string& path);

}  // namespace pellix::test::media
