// Keyframe requests and the camera's own pipeline: a door station that sends
// a keyframe only every 10 s must still be seen at once after our decoder
// starts afresh; our encoder answers the far end's PLI and FIR; the
// self-view shows the camera whatever the far end sends, and starting the
// camera leaves the received picture running.
#include "MediaTestKit.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <set>

namespace pellix::test::media {
namespace {

using client::media::Direction;
using client::media::VideoCapture;

// A door station that sends a green picture with a keyframe only every 20 s
// and honours PLI and FIR (its RTCP comes in on `peerPort` + 1).
std::string slowKeyframeSender(uint16_t ourPort, uint16_t peerPort, uint16_t rtpTo = 0) {
    return "rtpbin name=b rtp-profile=avpf videotestsrc is-live=true pattern=solid-color foreground-color=0xff00ff00 ! "
           "video/x-raw,width=320,height=240,framerate=15/1 ! x264enc tune=zerolatency speed-preset=ultrafast "
           "key-int-max=300 ! rtph264pay pt=96 config-interval=-1 ! b.send_rtp_sink_0 b.send_rtp_src_0 ! "
           "udpsink host=127.0.0.1 port=" + std::to_string(rtpTo ? rtpTo : ourPort) +
           " b.send_rtcp_src_0 ! udpsink sync=false async=false host=127.0.0.1 port=" + std::to_string(ourPort + 1) +
           " udpsrc address=127.0.0.1 port=" + std::to_string(peerPort + 1) + " ! b.recv_rtcp_sink_0";
}

// Generic NACKs (RTCP RTPFB, FMT 1) in a compound RTCP packet: the
// sequence numbers they ask for again.
std::vector<uint16_t> nackedSequences(const uint8_t* p, size_t n) {
    std::vector<uint16_t> out;
    for (size_t at = 0; at + 4 <= n;) {
        const size_t length = (size_t(p[at + 2]) << 8 | p[at + 3]) * 4 + 4;
        if (at + length > n) break;
        if (p[at + 1] == 205 && (p[at] & 0x1f) == 1) {
            for (size_t fci = at + 12; fci + 4 <= at + length; fci += 4) {
                const uint16_t pid = static_cast<uint16_t>(p[fci] << 8 | p[fci + 1]);
                const uint16_t blp = static_cast<uint16_t>(p[fci + 2] << 8 | p[fci + 3]);
                out.push_back(pid);
                for (int bit = 0; bit < 16; ++bit)
                    if (blp & (1 << bit)) out.push_back(static_cast<uint16_t>(pid + bit + 1));
            }
        }
        at += length;
    }
    return out;
}

// Stands between the door station and us: passes its RTP on, losing the
// packets it is told to, and passes our RTCP back, counting the PLIs in it.
class LossyRelay {
public:
    LossyRelay(uint16_t ourRtpPort, uint16_t senderRtcpPort) : ourRtp_(ourRtpPort), senderRtcp_(senderRtcpPort) {
        thread_ = std::thread([this] { run(); });
    }
    ~LossyRelay() {
        stop_ = true;
        thread_.join();
    }
    uint16_t rtpPort() const { return rtp_.port(); }
    uint16_t rtcpPort() const { return rtcp_.port(); }
    void lose(int packets) { toLose_ = packets; }
    int plis() const { return plis_; }
    int firs() const { return firs_; }
    std::vector<uint16_t> lost() {
        std::lock_guard lock(mutex_);
        return lost_;
    }
    std::vector<uint16_t> nacked() {
        std::lock_guard lock(mutex_);
        return nacked_;
    }

private:
    void run() {
        pollfd fds[2] = {{rtp_.fd(), POLLIN, 0}, {rtcp_.fd(), POLLIN, 0}};
        uint8_t buffer[2048];
        while (!stop_) {
            if (::poll(fds, 2, 20) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN)) continue;
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) continue;
                std::vector<uint8_t> packet(buffer, buffer + n);
                if (i == 0) {
                    if (toLose_ > 0 && packet.size() > 12) {
                        --toLose_;
                        std::lock_guard lock(mutex_);
                        lost_.push_back(static_cast<uint16_t>(packet[2] << 8 | packet[3]));
                        continue;
                    }
                    rtp_.sendTo(packet, ourRtp_);
                    continue;
                }
                for (size_t at = 0; at + 4 <= packet.size();) {
                    if (packet[at + 1] == 206 && (packet[at] & 0x1f) == 1) ++plis_;
                    if (packet[at + 1] == 206 && (packet[at] & 0x1f) == 4) ++firs_;
                    at += (size_t(packet[at + 2]) << 8 | packet[at + 3]) * 4 + 4;
                }
                {
                    const auto asked = nackedSequences(packet.data(), packet.size());
                    std::lock_guard lock(mutex_);
                    nacked_.insert(nacked_.end(), asked.begin(), asked.end());
                }
                rtcp_.sendTo(packet, senderRtcp_);
            }
        }
    }
    UdpSocket rtp_, rtcp_;
    const uint16_t ourRtp_, senderRtcp_;
    std::atomic<int> toLose_{0}, plis_{0}, firs_{0};
    std::mutex mutex_;
    std::vector<uint16_t> lost_, nacked_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Packets lost mid-picture leave the decoder with a broken picture: a
// keyframe is asked for at once, not after the sender's next one. A far end
// that takes generic NACKs is first asked to send the lost packets again;
// one that did not offer them is not.
class PacketLoss : public MediaFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(PacketLoss, LostPacketsAreAskedForAgainAndBringAKeyframeRequest) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264", "rtph264pay");
    const bool nack = GetParam();
    auto media = makeMedia(settings());
    auto remote = std::make_shared<RecordingRenderer>();
    const uint16_t peerPort = freeRtpPort();
    const uint16_t ourPort = media->localPort(StreamKind::Video);
    LossyRelay relay(ourPort, static_cast<uint16_t>(peerPort + 1));
    auto videoPlan = plan(StreamKind::Video, "H264", 96, peerPort, Direction::ReceiveOnly);
    videoPlan.remoteRtcpPort = relay.rtcpPort();
    videoPlan.codec.feedback = {nack, true, false};
    media->apply(videoPlan);
    VideoCapture c;
    c.remoteRenderer = remote;
    media->startVideo(c);
    auto peer = gstPeer(slowKeyframeSender(ourPort, peerPort, relay.rtpPort()));
    ASSERT_TRUE(pumpUntil(*media, [&] { return remote->count() > 0; }));
    // The requests of the start are answered; pictures keep coming.
    const int shown = remote->count();
    ASSERT_TRUE(pumpUntil(*media, [&] { return remote->count() >= shown + 10; }, 30s));
    const int before = relay.plis();
    relay.lose(3);
    EXPECT_TRUE(pumpUntil(*media, [&] { return relay.plis() > before; }, 5s)) << "the sender's next keyframe is 15 s away";
    const auto lost = relay.lost(), nacked = relay.nacked();
    ASSERT_EQ(lost.size(), 3u);
    ::testing::Message asked;
    for (uint16_t seq : nacked) asked << seq << ' ';
    const bool askedForLost = std::find_first_of(nacked.begin(), nacked.end(), lost.begin(), lost.end()) != nacked.end();
    if (nack) EXPECT_TRUE(askedForLost) << "lost " << lost[0] << ".." << lost[2] << ", asked for " << asked;
    else EXPECT_TRUE(nacked.empty()) << "asked for " << asked;
}

INSTANTIATE_TEST_SUITE_P(Nack, PacketLoss, ::testing::Bool(),
                         [](const auto& info) { return info.param ? std::string("Offered") : std::string("NotOffered"); });

struct FeedbackCase {
    const char* name;
    client::media::Codec::Feedback feedback;
    bool fir;  // the request expected: FIR, else PLI
};

void PrintTo(const FeedbackCase& c, std::ostream* os) { *os << c.name; }

class KeyframeRequest : public MediaFixture, public ::testing::WithParamInterface<FeedbackCase> {};

// The decoder is rebuilt mid-call (here by a re-INVITE turning the stream
// two-way) long after the sender's only keyframe went by: the picture must
// come back well before the sender's next keyframe would bring it.
TEST_P(KeyframeRequest, PictureReturnsAfterTheDecoderIsRebuiltMidStream) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264", "rtph264pay");
    auto media = makeMedia(settings());
    auto remote = std::make_shared<RecordingRenderer>();
    const uint16_t peerPort = freeRtpPort();
    const uint16_t ourPort = media->localPort(StreamKind::Video);
    LossyRelay relay(ourPort, static_cast<uint16_t>(peerPort + 1));
    auto videoPlan = plan(StreamKind::Video, "H264", 96, peerPort, Direction::ReceiveOnly);
    videoPlan.remoteRtcpPort = relay.rtcpPort();
    videoPlan.codec.feedback = GetParam().feedback;
    media->apply(videoPlan);
    VideoCapture c;
    c.remoteRenderer = remote;
    media->startVideo(c);
    auto peer = gstPeer(slowKeyframeSender(ourPort, peerPort, relay.rtpPort()));
    ASSERT_TRUE(pumpUntil(*media, [&] { return remote->count() > 0; }));

    const auto rebuiltAt = std::chrono::steady_clock::now();
    videoPlan.direction = Direction::SendReceive;
    media->apply(videoPlan);
    events.clear();
    // The rebuilt decoder reports the size again with its first picture.
    ASSERT_TRUE(pumpUntil(*media, [&] { return last(MediaEvent::Type::IncomingFrameSize) != nullptr; }, 30s));
    const auto waited = std::chrono::steady_clock::now() - rebuiltAt;
    // The sender's next keyframe is due 18 s or more from here.
    EXPECT_LT(waited, 10s) << "no keyframe was asked for";
    ASSERT_TRUE(pumpUntil(*media, [&] { return remote->pixel(160, 120)[1] > 200; }));
    EXPECT_LT(remote->pixel(160, 120)[0], 40);
    // Asked in the one way the far end takes.
    EXPECT_GT(GetParam().fir ? relay.firs() : relay.plis(), 0);
    EXPECT_EQ(GetParam().fir ? relay.plis() : relay.firs(), 0);
}

INSTANTIATE_TEST_SUITE_P(Feedback, KeyframeRequest,
                         ::testing::Values(FeedbackCase{"PliAndFir", {true, true, true}, false},
                                           FeedbackCase{"FirOnly", {false, false, true}, true},
                                           FeedbackCase{"NoneNegotiated", {}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// RTP timestamps of the H.264 pictures that hold an IDR slice.
class IdrCounter {
public:
    void add(const uint8_t* p, size_t n) {
        if (n < 14 || (p[0] >> 6) != 2) return;
        const size_t header = 12 + 4 * (p[0] & 0x0f);
        if (n <= header + 1) return;
        ssrc = (uint32_t(p[8]) << 24) | (uint32_t(p[9]) << 16) | (uint32_t(p[10]) << 8) | p[11];
        const uint32_t timestamp = (uint32_t(p[4]) << 24) | (uint32_t(p[5]) << 16) | (uint32_t(p[6]) << 8) | p[7];
        const uint8_t* nal = p + header;
        const size_t size = n - header;
        const int type = nal[0] & 0x1f;
        bool idr = type == 5 || (type == 28 && (nal[1] & 0x80) && (nal[1] & 0x1f) == 5);
        for (size_t at = 1; type == 24 && at + 2 < size;) {  // aggregated units
            const size_t length = (size_t(nal[at]) << 8) | nal[at + 1];
            if (at + 2 < size && (nal[at + 2] & 0x1f) == 5) idr = true;
            at += 2 + length;
        }
        if (idr) idrs.insert(timestamp);
    }
    std::set<uint32_t> idrs;
    uint32_t ssrc = 0;
};

std::vector<uint8_t> keyframeRequest(bool fir, uint32_t media, uint8_t sequence) {
    const uint32_t sender = 0x5eed1234;
    auto be32 = [](std::vector<uint8_t>& v, uint32_t x) {
        for (int shift = 24; shift >= 0; shift -= 8) v.push_back(static_cast<uint8_t>(x >> shift));
    };
    std::vector<uint8_t> p = {0x80, 201, 0, 1};  // an empty receiver report opens the compound packet
    be32(p, sender);
    if (fir) {
        p.insert(p.end(), {0x84, 206, 0, 4});
        be32(p, sender);
        be32(p, 0);
        be32(p, media);
        p.insert(p.end(), {sequence, 0, 0, 0});
    } else {
        p.insert(p.end(), {0x81, 206, 0, 2});
        be32(p, sender);
        be32(p, media);
    }
    return p;
}

class KeyframeAnswer : public MediaFixture, public ::testing::WithParamInterface<bool> {};

// Our encoder's own keyframes come every 2 s; ten requests 200 ms apart
// must bring many more than that.
TEST_P(KeyframeAnswer, EncoderSendsAKeyframeForEachRequest) {
    REQUIRE_GST_ELEMENTS("x264enc", "rtph264pay");
    const bool fir = GetParam();
    UdpSocket rtp, rtcp("127.0.0.1", 0);
    auto s = settings();
    s.cameras = {"videotestsrc is-live=true pattern=ball"};
    auto media = makeMedia(s);
    media->apply(plan(StreamKind::Video, "H264", 96, rtp.port(), Direction::SendOnly));
    media->startVideo(VideoCapture{});
    const uint16_t ourRtcp = static_cast<uint16_t>(media->localPort(StreamKind::Video) + 1);

    IdrCounter counter;
    uint8_t buffer[2048];
    auto drain = [&](std::chrono::milliseconds span) {
        const auto until = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < until) {
            media->poll(events);
            pollfd p{rtp.fd(), POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            const ssize_t n = ::recv(rtp.fd(), buffer, sizeof buffer, 0);
            if (n > 0) counter.add(buffer, static_cast<size_t>(n));
        }
    };
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (counter.idrs.empty() && std::chrono::steady_clock::now() < deadline) drain(100ms);
    ASSERT_FALSE(counter.idrs.empty()) << "nothing was sent";

    const size_t before = counter.idrs.size();
    for (uint8_t round = 0; round < 10; ++round) {
        rtcp.sendTo(keyframeRequest(fir, counter.ssrc, round), ourRtcp);
        drain(200ms);
    }
    drain(1s);  // a slow encoder's answers
    // 3 s of our own rhythm gives at most three; ten requests give far more.
    EXPECT_GE(counter.idrs.size() - before, 6u);
}

INSTANTIATE_TEST_SUITE_P(Kind, KeyframeAnswer, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("Fir") : std::string("Pli"); });

// A two-way call whose far end sends no video at all: the self-view shows
// the camera from the start.
TEST_F(MediaFixture, SelfViewShowsTheCameraWhileTheFarEndSendsNothing) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264");
    auto s = settings();
    s.cameras = {"videotestsrc is-live=true pattern=solid-color foreground-color=0xffff0000"};
    auto media = makeMedia(s);
    auto remote = std::make_shared<RecordingRenderer>();
    auto local = std::make_shared<RecordingRenderer>();
    UdpSocket silent;
    media->apply(plan(StreamKind::Video, "H264", 96, silent.port()));
    VideoCapture c;
    c.remoteRenderer = remote;
    c.localRenderer = local;
    media->startVideo(c);
    ASSERT_TRUE(pumpUntil(*media, [&] { return local->count() >= 10; }, 30s));
    EXPECT_EQ(remote->count(), 0);
    EXPECT_NEAR(local->pixel(160, 120)[0], 255, 24);
    EXPECT_NEAR(local->pixel(160, 120)[2], 0, 24);
}

// The host starts its camera after the far end's picture is already shown:
// that picture keeps coming with no new keyframe, and both views run.
TEST_F(MediaFixture, StartingTheCameraKeepsTheReceivedPictureRunning) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264");
    auto s = settings();
    s.cameras = {"videotestsrc is-live=true pattern=ball"};
    auto media = makeMedia(s);
    auto remote = std::make_shared<RecordingRenderer>();
    auto local = std::make_shared<RecordingRenderer>();
    const uint16_t peerPort = freeRtpPort();
    media->apply(plan(StreamKind::Video, "H264", 96, peerPort));
    VideoCapture receiveOnly;
    receiveOnly.remoteRenderer = remote;
    media->startVideo(receiveOnly);
    auto peer = gstPeer(slowKeyframeSender(media->localPort(StreamKind::Video), peerPort));
    ASSERT_TRUE(pumpUntil(*media, [&] { return remote->count() > 0; }));
    const size_t sizesBefore = countOf(MediaEvent::Type::IncomingFrameSize);

    VideoCapture camera;
    camera.remoteRenderer = remote;
    camera.localRenderer = local;
    media->startVideo(camera);
    const int shown = remote->count();
    EXPECT_TRUE(pumpUntil(*media, [&] { return remote->count() >= shown + 15 && local->count() >= 5; }, 30s));
    EXPECT_EQ(countOf(MediaEvent::Type::IncomingFrameSize), sizesBefore) << "the decoder was rebuilt";
}

}  // namespace
}  // namespace pellix::test::media
