// Ports, plans the media cannot carry, hostile input and tearing down a
// call while packets still arrive.
#include "MediaTestKit.h"

#include <arpa/inet.h>

#include <cstring>
#include <filesystem>
#include <set>

namespace pellix::test::media {
namespace {

using client::media::Direction;
using client::media::StreamPlan;

bool udpPortTaken(uint16_t port) {
    try {
        UdpSocket s("127.0.0.1", port);
        return false;
    } catch (const std::exception&) {
        return true;
    }
}

TEST_F(MediaFixture, PortsAreEvenPairsBoundAtCreationAndFreedAtDestruction) {
    auto first = makeMedia(settings());
    auto second = makeMedia(settings());
    std::vector<uint16_t> ports;
    for (auto* media : {first.get(), second.get()})
        for (StreamKind kind : {StreamKind::Audio, StreamKind::Video}) ports.push_back(media->localPort(kind));
    for (uint16_t port : ports) {
        ASSERT_NE(port, 0);
        EXPECT_EQ(port % 2, 0) << port;
        EXPECT_TRUE(udpPortTaken(port)) << "RTP " << port;
        EXPECT_TRUE(udpPortTaken(port + 1)) << "RTCP " << port + 1;
    }
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(std::adjacent_find(ports.begin(), ports.end()), ports.end());

    // Freed at once even with a stream running.
    first->apply(plan(StreamKind::Audio, "PCMA", 8, freeRtpPort()));
    ASSERT_TRUE(pumpUntil(*first, [&] { return saw(MediaEvent::Type::StreamStarted, StreamKind::Audio); }));
    first.reset();
    second.reset();
    for (uint16_t port : ports) {
        EXPECT_FALSE(udpPortTaken(port)) << port;
        EXPECT_FALSE(udpPortTaken(port + 1)) << port + 1;
    }
}

TEST_F(MediaFixture, PlansItCannotCarryFailThatStreamOnly) {
    struct Case {
        const char* what;
        StreamPlan plan;
    };
    auto bad = [](StreamKind kind, const char* codec, int pt, const char* address, uint16_t port) {
        StreamPlan p = plan(kind, codec, pt, port);
        p.remoteAddress = address;
        return p;
    };
    std::vector<Case> cases = {
        {"unknown codec", bad(StreamKind::Audio, "iSAC", 103, "127.0.0.1", 40000)},
        {"video codec on the audio stream", bad(StreamKind::Audio, "H264", 96, "127.0.0.1", 40000)},
        {"audio codec on the video stream", bad(StreamKind::Video, "PCMU", 0, "127.0.0.1", 40000)},
        {"payload type out of range", bad(StreamKind::Audio, "PCMU", 300, "127.0.0.1", 40000)},
        {"remote address not an IP literal", bad(StreamKind::Audio, "PCMU", 0, "door.example", 40000)},
        {"remote port zero", bad(StreamKind::Audio, "PCMU", 0, "127.0.0.1", 0)},
    };
    if (!client::media::gstreamerCodecAvailable("G729"))
        cases.push_back({"G.729 without an encoder on this host", bad(StreamKind::Audio, "G729", 18, "127.0.0.1", 40000)});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto media = makeMedia(settings());
        events.clear();
        media->apply(c.plan);
        // Plans are carried out on the media's own thread: the failure comes
        // with a later poll.
        ASSERT_TRUE(pumpUntil(*media, [&] { return !events.empty(); }));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].type, MediaEvent::Type::StreamFailed);
        EXPECT_EQ(events[0].kind, c.plan.kind);
        EXPECT_FALSE(events[0].text.empty());
        // The other stream of the call is unaffected.
        const StreamKind other = c.plan.kind == StreamKind::Audio ? StreamKind::Video : StreamKind::Audio;
        if (other == StreamKind::Audio) {
            media->apply(plan(StreamKind::Audio, "PCMU", 0, freeRtpPort()));
            EXPECT_TRUE(pumpUntil(*media, [&] { return saw(MediaEvent::Type::StreamStarted, StreamKind::Audio); }));
        }
    }
    // A receive-only G.729 stream needs only the decoder.
    if (client::media::gstElementAvailable("avdec_g729")) {
        auto media = makeMedia(settings());
        media->apply(plan(StreamKind::Audio, "G729", 18, freeRtpPort(), Direction::ReceiveOnly));
        events.clear();
        pumpFor(*media, 100ms);
        EXPECT_FALSE(saw(MediaEvent::Type::StreamFailed, StreamKind::Audio));
    }
}

TEST_F(MediaFixture, HostileInputIsDroppedAndTheRealStreamStillPlays) {
    auto s = settings();
    s.audio.sinkDescription = rawSink(dir.file("played.raw"));
    auto media = makeMedia(s);
    const uint16_t audio = media->localPort(StreamKind::Audio);
    media->apply(plan(StreamKind::Audio, "PCMA", 8, freeRtpPort(), Direction::ReceiveOnly));

    const std::vector<uint8_t> alawSilence(160, 0xd5);
    UdpSocket peer("127.0.0.1");
    struct Junk {
        const char* what;
        std::string from;
        uint16_t to;
        std::function<std::vector<uint8_t>(uint16_t)> packet;
    };
    const std::vector<Junk> junk = {
        {"valid RTP from an address that was not negotiated", "127.0.0.2", audio,
         [&](uint16_t n) { return rtpPacket(8, n, n * 160u, 0x1234, alawSilence); }},
        {"payload type that was not negotiated", "127.0.0.1", audio,
         [&](uint16_t n) { return rtpPacket(0, n, n * 160u, 0x1234, alawSilence); }},
        {"not RTP at all", "127.0.0.1", audio,
         [](uint16_t n) { return std::vector<uint8_t>(static_cast<size_t>(1 + n % 40), static_cast<uint8_t>(n * 37)); }},
        {"RTP version 1", "127.0.0.1", audio,
         [&](uint16_t n) { auto p = rtpPacket(8, n, n * 160u, 0x1234, alawSilence); p[0] = 0x40; return p; }},
        {"header claims more CSRCs than the packet holds", "127.0.0.1", audio,
         [](uint16_t n) { auto p = rtpPacket(8, n, n * 160u, 0x1234, {}); p[0] = 0x8f; return p; }},
        {"garbage on the RTCP port", "127.0.0.1", static_cast<uint16_t>(audio + 1),
         [](uint16_t n) { return std::vector<uint8_t>(static_cast<size_t>(4 + n % 60), static_cast<uint8_t>(0x80 + n)); }},
        {"video in an audio-only call", "127.0.0.1", media->localPort(StreamKind::Video),
         [&](uint16_t n) { return rtpPacket(96, n, n * 3000u, 0x5678, std::vector<uint8_t>(900, 0x65)); }},
    };
    for (const auto& j : junk) {
        SCOPED_TRACE(j.what);
        UdpSocket from(j.from);
        for (uint16_t n = 0; n < 50; ++n) from.sendTo(j.packet(n), j.to);
        pumpFor(*media, 150ms);
        EXPECT_EQ(events.size(), 0u) << "first event type " << static_cast<int>(events.empty() ? -1 : int(events[0].type));
        EXPECT_EQ(fileSize(dir.file("played.raw")), 0u);
    }

    for (uint16_t n = 0; n < 50; ++n) {
        peer.sendTo(rtpPacket(8, n, n * 160u, 0x1234, alawSilence), audio);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(pumpUntil(*media, [&] { return fileSize(dir.file("played.raw")) > 0; }));
    EXPECT_TRUE(saw(MediaEvent::Type::StreamStarted, StreamKind::Audio));
    EXPECT_FALSE(saw(MediaEvent::Type::StreamStarted, StreamKind::Video));
    EXPECT_FALSE(saw(MediaEvent::Type::StreamFailed, StreamKind::Audio));
}

// Which threads create elements or change their states while it lives
// (through GStreamer's own debug log).
class GstWorkThreads {
public:
    GstWorkThreads() {
        gst_debug_set_active(TRUE);
        for (const char* category : kCategories) gst_debug_set_threshold_for_name(category, GST_LEVEL_DEBUG);
        gst_debug_remove_log_function(gst_debug_log_default);
        gst_debug_add_log_function(&GstWorkThreads::log, this, nullptr);
    }
    ~GstWorkThreads() {
        gst_debug_remove_log_function(&GstWorkThreads::log);
        gst_debug_add_log_function(gst_debug_log_default, nullptr, nullptr);
        for (const char* category : kCategories) gst_debug_unset_threshold_for_name(category);
    }
    bool seen(std::thread::id thread) {
        std::lock_guard lock(mutex_);
        return threads_.count(thread) != 0;
    }
    size_t count() {
        std::lock_guard lock(mutex_);
        return threads_.size();
    }

private:
    static constexpr const char* kCategories[] = {"GST_ELEMENT_FACTORY", "GST_STATES"};
    static void log(GstDebugCategory* category, GstDebugLevel, const gchar*, const gchar*, gint, GObject*,
                    GstDebugMessage*, gpointer data) {
        const char* name = gst_debug_category_get_name(category);
        if (std::strcmp(name, kCategories[0]) != 0 && std::strcmp(name, kCategories[1]) != 0) return;
        auto* self = static_cast<GstWorkThreads*>(data);
        std::lock_guard lock(self->mutex_);
        self->threads_.insert(std::this_thread::get_id());
    }
    std::mutex mutex_;
    std::set<std::thread::id> threads_;
};

// Opening a camera or an encoder can take a second on a busy machine: the
// thread that pumps the engine (and with it every SIP message and host
// callback) must not be the one that waits for it.
TEST_F(MediaFixture, PipelinesAreBuiltChangedAndStoppedOffThePumpingThread) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264");
    auto s = settings();
    s.cameras = {"videotestsrc is-live=true pattern=ball", "videotestsrc is-live=true pattern=snow"};
    auto media = makeMedia(s);
    auto local = std::make_shared<RecordingRenderer>();
    UdpEcho audioEcho, videoEcho;
    GstWorkThreads work;
    auto videoPlan = plan(StreamKind::Video, "H264", 96, videoEcho.port());
    media->apply(plan(StreamKind::Audio, "PCMU", 0, audioEcho.port()));
    media->apply(videoPlan);
    client::media::VideoCapture c;
    c.localRenderer = local;
    media->startVideo(c);
    ASSERT_TRUE(pumpUntil(*media, [&] { return local->count() > 0; }));
    media->changeCapture(1, 90, local);
    media->setAudioMute(true);
    videoPlan.direction = Direction::ReceiveOnly;
    media->apply(videoPlan);
    videoPlan.active = false;
    media->apply(videoPlan);
    ASSERT_TRUE(pumpUntil(*media, [&] { return saw(MediaEvent::Type::StreamStopped, StreamKind::Video); }));
    EXPECT_GT(work.count(), 0u) << "the debug log saw no pipeline work at all";
    EXPECT_FALSE(work.seen(std::this_thread::get_id()));
}

size_t threadCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

TEST_F(MediaFixture, TearingDownWhilePacketsArriveLeavesNothingRunning) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264");
    auto remote = std::make_shared<RecordingRenderer>();
    auto s = settings();
    s.cameras = {"videotestsrc is-live=true pattern=snow"};
    UdpEcho audioEcho, videoEcho;
    const size_t threadsBefore = threadCount();
    for (int round = 0; round < 3; ++round) {
        auto media = makeMedia(s);
        media->apply(plan(StreamKind::Audio, "PCMU", 0, audioEcho.port()));
        media->apply(plan(StreamKind::Video, "H264", 96, videoEcho.port()));
        client::media::VideoCapture c;
        c.remoteRenderer = remote;
        c.localRenderer = remote;
        media->startVideo(c);
        ASSERT_TRUE(pumpUntil(*media, [&] { return remote->count() > 2; }));
        media->changeCapture(0, 180, remote);
        pumpFor(*media, 100ms);
        media.reset();
        const int shown = remote->count();
        // GLib starts one shared worker on first use and keeps it; every
        // streaming thread of the call is gone.
        EXPECT_LE(threadCount(), threadsBefore + 1) << "round " << round;
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(remote->count(), shown) << "a renderer is called after the call ended";
    }
    EXPECT_FALSE(saw(MediaEvent::Type::StreamFailed, StreamKind::Video));
}

}  // namespace
}  // namespace pellix::test::media
