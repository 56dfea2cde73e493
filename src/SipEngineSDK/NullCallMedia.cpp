#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "SipEngineSDK/CallMedia.h"

namespace client::media {
namespace {

std::mutex g_factoryMutex;
CallMediaFactory g_factory;

// A UDP socket bound on `address`; -1 when it cannot be.
int bindUdp(const std::string& address, uint16_t port) {
    bool v6 = address.find(':') != std::string::npos;
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_storage ss{};
    socklen_t len;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        if (inet_pton(AF_INET6, address.c_str(), &a->sin6_addr) != 1) a->sin6_addr = in6addr_any;
        len = sizeof(*a);
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&ss);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        if (inet_pton(AF_INET, address.c_str(), &a->sin_addr) != 1) a->sin_addr.s_addr = htonl(INADDR_ANY);
        len = sizeof(*a);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

uint16_t portOf(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof(ss);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
    return ss.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
                                    : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

class NullCallMedia final : public CallMedia {
public:
    explicit NullCallMedia(const MediaSettings& settings) {
        for (int k = 0; k < 2; ++k) bindPair(settings.localAddress, pairs_[k]);
    }
    ~NullCallMedia() override {
        for (auto& p : pairs_)
            for (int fd : p.fds)
                if (fd >= 0) ::close(fd);
    }
    uint16_t localPort(StreamKind kind) const override { return pairs_[index(kind)].port; }
    void apply(const StreamPlan& plan) override {
        bool& on = active_[index(plan.kind)];
        if (plan.active != on) {
            MediaEvent e;
            e.type = plan.active ? MediaEvent::Type::StreamStarted : MediaEvent::Type::StreamStopped;
            e.kind = plan.kind;
            events_.push_back(e);
        }
        on = plan.active;
    }
    void setAudioMute(bool) override {}
    void startVideo(const VideoCapture&) override {}
    void changeCapture(int, int, std::shared_ptr<VideoRenderer>) override {}
    void setRotation(int) override {}
    void poll(std::vector<MediaEvent>& out) override {
        out.insert(out.end(), events_.begin(), events_.end());
        events_.clear();
    }

private:
    struct Pair {
        int fds[2] = {-1, -1};
        uint16_t port = 0;
    };
    static int index(StreamKind k) { return k == StreamKind::Audio ? 0 : 1; }
    // An even RTP port with RTCP on the next one, as RTP/AVP expects.
    static void bindPair(const std::string& address, Pair& p) {
        for (int attempt = 0; attempt < 16; ++attempt) {
            int rtp = bindUdp(address, 0);
            if (rtp < 0) return;
            uint16_t port = portOf(rtp);
            if (port % 2 == 0 && port != 65534) {
                int rtcp = bindUdp(address, static_cast<uint16_t>(port + 1));
                if (rtcp >= 0) {
                    p.fds[0] = rtp;
                    p.fds[1] = rtcp;
                    p.port = port;
                    return;
                }
            }
            ::close(rtp);
        }
    }
    Pair pairs_[2];
    bool active_[2] = {false, false};
    std::vector<MediaEvent> events_;
};

}  // namespace

void setCallMediaFactory(CallMediaFactory factory) {
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

CallMediaFactory callMediaFactory() {
    std::lock_guard lock(g_factoryMutex);
    return g_factory;
}

std::unique_ptr<CallMedia> makeNullCallMedia(const MediaSettings& settings) {
    return std::make_unique<NullCallMedia>(settings);
}

}  // namespace client::media
