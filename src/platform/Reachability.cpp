#include "platform/Reachability.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/DispatchQueue.h"

namespace pellix::platform {

struct Reachability::Target {
    // Either a host name to resolve, or one address.
    std::string hostName;
    sockaddr_storage address{};
    bool wholeNetwork = false;
};

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string interfaceName(int ifindex) {
    char name[IF_NAMESIZE] = {};
    if (ifindex <= 0 || !if_indextoname(static_cast<unsigned>(ifindex), name)) return {};
    return name;
}

std::mutex interfaceInfoMutex;
std::string interfaceInfoDirectory = "/sys/class/net";

// The folder of one interface's facts.
std::string interfaceInfo(const std::string& name) {
    std::lock_guard lock(interfaceInfoMutex);
    return interfaceInfoDirectory + "/" + name;
}

bool hasDevType(const std::string& name, const char* devtype) {
    if (name.empty() || name.find('/') != std::string::npos) return false;
    std::ifstream in(interfaceInfo(name) + "/uevent");
    std::string line, wanted = std::string("DEVTYPE=") + devtype;
    while (std::getline(in, line))
        if (line == wanted) return true;
    return false;
}

bool isWWANInterface(int ifindex) { return hasDevType(interfaceName(ifindex), "wwan"); }

bool isWirelessIndex(int ifindex) { return Reachability::isWirelessInterface(interfaceName(ifindex)); }

struct Route {
    bool usable = false;
    int oif = 0;
    bool local = false;
    bool hasGateway = false;
    in_addr gateway4{};
    unsigned char family = 0;
    unsigned char dstLen = 0;
};

// Reads one route message's type and outgoing interface.
Route readRoute(const nlmsghdr* h) {
    Route r;
    const auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
    r.usable = rt->rtm_type == RTN_UNICAST || rt->rtm_type == RTN_LOCAL;
    r.local = rt->rtm_type == RTN_LOCAL;
    r.family = rt->rtm_family;
    r.dstLen = rt->rtm_dst_len;
    int len = static_cast<int>(RTM_PAYLOAD(h));
    for (const rtattr* a = RTM_RTA(rt); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
        if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= sizeof(int)) std::memcpy(&r.oif, RTA_DATA(a), sizeof(int));
        if (a->rta_type == RTA_GATEWAY) {
            r.hasGateway = true;
            if (rt->rtm_family == AF_INET && RTA_PAYLOAD(a) >= sizeof(in_addr))
                std::memcpy(&r.gateway4, RTA_DATA(a), sizeof(in_addr));
        }
    }
    return r;
}

// Sends one request and collects the route messages of the answer; false
// when the kernel could not be asked. `unreachable` is set when the kernel
// answered "no route".
bool askKernel(nlmsghdr* request, std::vector<Route>& routes, bool& unreachable, bool dumpDefaults) {
    Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (fd.get() < 0) return false;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd.get(), request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return false;
    std::vector<char> buf(32768);
    for (;;) {
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) return false;
        ssize_t n = ::recv(fd.get(), buf.data(), buf.size(), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        int len = static_cast<int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buf.data()); NLMSG_OK(h, static_cast<unsigned>(len));
             h = NLMSG_NEXT(h, len)) {
            if (h->nlmsg_type == NLMSG_DONE) return true;
            if (h->nlmsg_type == NLMSG_ERROR) {
                const auto* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
                if (e->error == 0) return true;
                int err = -e->error;
                if (err == ENETUNREACH || err == EHOSTUNREACH || err == EACCES || err == EPERM ||
                    err == EINVAL || err == ESRCH) {
                    unreachable = true;
                    return true;
                }
                return false;
            }
            if (h->nlmsg_type != RTM_NEWROUTE) continue;
            const auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
            if (dumpDefaults && (rt->rtm_dst_len != 0 || rt->rtm_table != RT_TABLE_MAIN)) continue;
            routes.push_back(readRoute(h));
            if (!dumpDefaults) return true;
        }
    }
}

// The default routes of the main table for one family; false when the
// kernel could not be asked.
bool dumpDefaultRoutes(int family, std::vector<Route>& routes) {
    struct {
        nlmsghdr h;
        rtmsg r;
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    req.h.nlmsg_type = RTM_GETROUTE;
    req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.r.rtm_family = static_cast<unsigned char>(family);
    bool unreachable = false;
    return askKernel(&req.h, routes, unreachable, true);
}

// Flags for the network as a whole: a default route of either family.
std::optional<std::uint32_t> defaultRouteFlags() {
    std::uint32_t flags = 0;
    bool asked = false;
    for (int family : {AF_INET, AF_INET6}) {
        std::vector<Route> routes;
        if (!dumpDefaultRoutes(family, routes)) continue;
        asked = true;
        for (const auto& r : routes) {
            if (!r.usable) continue;
            bool wwan = r.oif > 0 && isWWANInterface(r.oif);
            bool direct = !r.hasGateway || (r.oif > 0 && isWirelessIndex(r.oif));
            // A Wi-Fi or wired default route wins over a cellular one.
            if (!(flags & Reachability::kReachable) || (flags & Reachability::kIsWWAN && !wwan))
                flags = Reachability::kReachable | (wwan ? Reachability::kIsWWAN : 0u) |
                        (direct ? Reachability::kIsDirect : 0u);
        }
    }
    if (!asked) return std::nullopt;
    return flags;
}

std::optional<std::uint32_t> addressFlags(const sockaddr_storage& address) {
    struct {
        nlmsghdr h;
        rtmsg r;
        char attrs[64];
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    req.h.nlmsg_type = RTM_GETROUTE;
    req.h.nlmsg_flags = NLM_F_REQUEST;
    const void* bytes = nullptr;
    unsigned short size = 0;
    if (address.ss_family == AF_INET) {
        bytes = &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr;
        size = 4;
    } else {
        bytes = &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr;
        size = 16;
    }
    req.r.rtm_family = static_cast<unsigned char>(address.ss_family);
    req.r.rtm_dst_len = static_cast<unsigned char>(size * 8);
    auto* a = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&req) + NLMSG_ALIGN(req.h.nlmsg_len));
    a->rta_type = RTA_DST;
    a->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(a), bytes, size);
    req.h.nlmsg_len = NLMSG_ALIGN(req.h.nlmsg_len) + RTA_ALIGN(a->rta_len);

    std::vector<Route> routes;
    bool unreachable = false;
    if (!askKernel(&req.h, routes, unreachable, false)) return std::nullopt;
    if (unreachable || routes.empty() || !routes[0].usable) return 0u;
    std::uint32_t flags = Reachability::kReachable;
    if (routes[0].local) flags |= Reachability::kIsLocalAddress;
    if (routes[0].oif > 0 && isWWANInterface(routes[0].oif)) flags |= Reachability::kIsWWAN;
    if (routes[0].local || !routes[0].hasGateway || (routes[0].oif > 0 && isWirelessIndex(routes[0].oif)))
        flags |= Reachability::kIsDirect;
    return flags;
}

bool isAllZeroIPv4(const sockaddr_storage& a) {
    return a.ss_family == AF_INET && reinterpret_cast<const sockaddr_in*>(&a)->sin_addr.s_addr == 0;
}

std::optional<std::uint32_t> targetFlags(const sockaddr_storage* address,
                                         const std::string& hostName, bool wholeNetwork) {
    if (wholeNetwork) return defaultRouteFlags();
    if (address) return addressFlags(*address);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(hostName.c_str(), nullptr, &hints, &list) != 0 || !list) return 0u;
    std::optional<std::uint32_t> best = 0u;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        sockaddr_storage s{};
        std::memcpy(&s, ai->ai_addr, std::min<std::size_t>(ai->ai_addrlen, sizeof s));
        auto f = addressFlags(s);
        if (f && (*f & Reachability::kReachable)) {
            best = f;
            break;
        }
        if (!f) best = std::nullopt;
    }
    ::freeaddrinfo(list);
    return best;
}

}  // namespace

struct Reachability::Watcher {
    Fd netlink{::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE)};
    Fd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::thread thread;
};

void Reachability::setInterfaceInfoDirectory(std::string directory) {
    std::lock_guard lock(interfaceInfoMutex);
    interfaceInfoDirectory = directory.empty() ? std::string("/sys/class/net") : std::move(directory);
}

Reachability::Reachability(std::shared_ptr<const Target> target) : target_(std::move(target)) {}

Reachability::~Reachability() { unschedule(); }

std::shared_ptr<Reachability> Reachability::withAddress(const sockaddr* address) {
    if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) return nullptr;
    auto t = std::make_shared<Target>();
    std::memcpy(&t->address, address, address->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
    t->wholeNetwork = isAllZeroIPv4(t->address);
    return std::shared_ptr<Reachability>(new Reachability(std::move(t)));
}

std::shared_ptr<Reachability> Reachability::withName(const std::string& hostName) {
    if (hostName.empty()) return nullptr;
    auto t = std::make_shared<Target>();
    // A numeric name is an address; no resolver is needed for it.
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, hostName.c_str(), &v4) == 1) {
        auto* s = reinterpret_cast<sockaddr_in*>(&t->address);
        s->sin_family = AF_INET;
        s->sin_addr = v4;
    } else if (inet_pton(AF_INET6, hostName.c_str(), &v6) == 1) {
        auto* s = reinterpret_cast<sockaddr_in6*>(&t->address);
        s->sin6_family = AF_INET6;
        s->sin6_addr = v6;
    } else {
        t->hostName = hostName;
    }
    return std::shared_ptr<Reachability>(new Reachability(std::move(t)));
}

std::optional<std::vector<Reachability::IPv4DefaultRoute>> Reachability::ipv4DefaultRoutes() {
    std::vector<Route> routes;
    if (!dumpDefaultRoutes(AF_INET, routes)) return std::nullopt;
    std::vector<IPv4DefaultRoute> out;
    for (const auto& r : routes) {
        if (!r.usable || r.local || r.family != AF_INET) continue;
        IPv4DefaultRoute d;
        d.interfaceIndex = r.oif;
        d.interfaceName = interfaceName(r.oif);
        if (r.hasGateway) d.gateway = r.gateway4;
        d.wireless = isWirelessInterface(d.interfaceName);
        d.wwan = hasDevType(d.interfaceName, "wwan");
        out.push_back(std::move(d));
    }
    return out;
}

bool Reachability::isWirelessInterface(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return false;
    std::error_code ec;
    const std::string dir = interfaceInfo(name);
    if (std::filesystem::exists(dir + "/wireless", ec) || std::filesystem::exists(dir + "/phy80211", ec)) return true;
    return hasDevType(name, "wlan");
}

std::optional<std::uint32_t> Reachability::flags() const {
    const Target& t = *target_;
    return targetFlags(t.hostName.empty() ? &t.address : nullptr, t.hostName, t.wholeNetwork);
}

void Reachability::setCallback(Callback callback) {
    std::lock_guard lock(mutex_);
    callback_ = callback ? std::make_shared<Callback>(std::move(callback)) : nullptr;
}

bool Reachability::schedule() {
    unschedule();
    auto w = std::make_unique<Watcher>();
    if (w->netlink.get() < 0 || w->wake.get() < 0) return false;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(w->netlink.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) return false;

    auto target = target_;
    int nl = w->netlink.get(), wake = w->wake.get();
    // The thread reads the callback through this object's lock at each
    // change, so a later setCallback takes effect at once.
    w->thread = std::thread([this, target, nl, wake] {
        auto read = [&] {
            const Target& t = *target;
            return targetFlags(t.hostName.empty() ? &t.address : nullptr, t.hostName, t.wholeNetwork);
        };
        std::optional<std::uint32_t> last = read();
        std::vector<char> buf(16384);
        for (;;) {
            pollfd p[2] = {{nl, POLLIN, 0}, {wake, POLLIN, 0}};
            if (::poll(p, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[1].revents) return;
            // Drain the burst of announcements, then read the flags once.
            while (::recv(nl, buf.data(), buf.size(), MSG_DONTWAIT) > 0) {
            }
            auto now = read();
            if (!now || now == last) continue;
            last = now;
            std::shared_ptr<Callback> cb;
            {
                std::lock_guard lock(mutex_);
                cb = callback_;
            }
            if (cb) {
                std::uint32_t f = *now;
                DispatchQueue::main()->async([cb, f] { (*cb)(f); });
            }
        }
    });
    std::unique_ptr<Watcher> replaced;
    {
        std::lock_guard lock(mutex_);
        replaced = std::exchange(watcher_, std::move(w));
    }
    // Another thread scheduled at the same time: its watcher is stopped, not
    // dropped with its thread still running.
    stop(std::move(replaced));
    return true;
}

void Reachability::unschedule() {
    std::unique_ptr<Watcher> w;
    {
        std::lock_guard lock(mutex_);
        w = std::move(watcher_);
    }
    stop(std::move(w));
}

void Reachability::stop(std::unique_ptr<Watcher> w) {
    if (!w) return;
    // An eventfd write only fails on counter overflow, which one write
    // cannot reach.
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(w->wake.get(), &one, sizeof one);
    if (w->thread.joinable()) w->thread.join();
}

}  // namespace pellix::platform
