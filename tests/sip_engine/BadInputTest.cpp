// Hostile or broken peers: datagrams written by hand, so that every byte is
// ours to choose.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SipTestKit.h"

namespace pellix::test {
namespace {

using client::Call;

class RawPeer {
public:
    explicit RawPeer(int enginePort) {
        fd_ = bindLoopbackUdp(port_);
        engine_.sin_family = AF_INET;
        engine_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        engine_.sin_port = htons(static_cast<uint16_t>(enginePort));
    }
    ~RawPeer() { ::close(fd_); }
    int port() const { return port_; }
    void send(const std::string& bytes) {
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&engine_), sizeof(engine_));
    }
    // The next datagram whose first line starts with `prefix`, pumping the engine meanwhile.
    std::string receive(TestEngine& engine, const std::string& prefix) {
        std::string got;
        engine.pumpUntil([&] {
            char buf[65536];
            ssize_t n;
            while ((n = ::recv(fd_, buf, sizeof(buf), 0)) > 0) {
                std::string d(buf, static_cast<std::size_t>(n));
                if (d.rfind(prefix, 0) == 0) {
                    got = d;
                    return true;
                }
            }
            return false;
        }, std::chrono::seconds(5));
        return got;
    }
    std::string invite(int enginePort, const std::string& callId, const std::string& extraHeaders,
                       const std::string& sdp) const {
        std::string p = std::to_string(port_), e = std::to_string(enginePort);
        return "INVITE sip:1001@127.0.0.1:" + e + " SIP/2.0\r\n"
               "Via: SIP/2.0/UDP 127.0.0.1:" + p + ";branch=z9hG4bK-" + callId + "\r\n"
               "From: <sip:2001@127.0.0.1:" + p + ">;tag=t" + callId + "\r\n"
               "To: <sip:1001@127.0.0.1:" + e + ">\r\n"
               "Call-ID: " + callId + "\r\n"
               "CSeq: 1 INVITE\r\n"
               "Contact: <sip:2001@127.0.0.1:" + p + ">\r\n"
               "Max-Forwards: 70\r\n" + extraHeaders +
               "Content-Type: application/sdp\r\n"
               "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    sockaddr_in engine_{};
};

const std::string kAudioSdp =
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
    "m=audio 40000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n";

TEST(SipBadInput, GarbageAndUnusableRequestsAreAnsweredOrDroppedWithoutAnyCall) {
    TestEngine engine;
    RawPeer peer(engine.port());
    static const char kGarbage[] = "\x00\xff\xfe not sip at all\r\n\r\n";
    peer.send(std::string(kGarbage, sizeof(kGarbage) - 1));
    peer.send("INVITE sip:1001@127.0.0.1 SIP/2.0\r\nVia: broken\r\n\r\n");

    struct Case {
        const char* what;
        std::string request;
        const char* expected;
    };
    const Case cases[] = {
        {"no usable codec", peer.invite(engine.port(), "c1", "",
                                        "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                        "m=audio 40000 RTP/AVP 9\r\na=rtpmap:9 G722/8000\r\n"),
         "SIP/2.0 488"},
        {"no SDP at all", peer.invite(engine.port(), "c2", "", ""), "SIP/2.0 488"},
        {"SDP that is not SDP", peer.invite(engine.port(), "c3", "", "hello\r\n"), "SIP/2.0 400"},
        {"BYE for no dialog",
         "BYE sip:1001@127.0.0.1:" + std::to_string(engine.port()) + " SIP/2.0\r\n"
         "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(peer.port()) + ";branch=z9hG4bK-bye1\r\n"
         "From: <sip:2001@127.0.0.1>;tag=a\r\nTo: <sip:1001@127.0.0.1>;tag=b\r\nCall-ID: nosuchcall\r\n"
         "CSeq: 5 BYE\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n",
         "SIP/2.0 481"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        peer.send(c.request);
        std::string reply = peer.receive(engine, "SIP/2.0 4");
        EXPECT_EQ(reply.rfind(c.expected, 0), 0u) << reply;
    }
    EXPECT_TRUE(engine.recorder().states.empty());
    EXPECT_TRUE(engine->GetCallManager()->GetCalls().empty());
}

TEST(SipBadInput, HeaderValuesThatAreNotUtf8AreLeftOutOfTheHeaderMap) {
    TestEngine engine;
    RawPeer peer(engine.port());
    peer.send(peer.invite(engine.port(), "u1", "X-room-no: \xc3\x28\xff\r\nX-Building: B\xc3\xa4u 7\r\n", kAudioSdp));
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().reached(Call::kNewCall); }));
    Call* call = engine.recorder().lastCall;
    EXPECT_EQ(call->GetCustomHeaders(), (std::map<std::string, std::string>{{"X-Building", "B\xc3\xa4u 7"}}));
    // Declining it ends it for good.
    EXPECT_TRUE(call->Reject(603, 0));
    EXPECT_EQ(peer.receive(engine, "SIP/2.0 603").rfind("SIP/2.0 603", 0), 0u);
    EXPECT_EQ(engine.recorder().states, (std::vector<int>{0, 3}));
}

TEST(SipBadInput, NoObserverIsCalledOnceTheEngineIsDeleted) {
    TestEngine engine;
    RawPeer peer(engine.port());
    peer.send(peer.invite(engine.port(), "d1", "", kAudioSdp));
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().reached(Call::kNewCall); }));
    std::size_t before = engine.recorder().states.size();
    engine.recorder().onState = [](client::Call*, client::Call::CallState) { ADD_FAILURE() << "called after Delete"; };
    engine.destroy();
    EXPECT_EQ(engine.get(), nullptr);
    EXPECT_EQ(engine.recorder().states.size(), before);
}

}  // namespace
}  // namespace pellix::test
