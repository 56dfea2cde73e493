#include "platform/DNSResolver.h"

#include <arpa/nameser.h>
#include <netdb.h>
#include <resolv.h>

#include <cstring>

namespace pellix::platform {

namespace {

// A resolver state released on every path out.
struct ResolverState {
    struct __res_state state;
    bool ok = false;
    ResolverState() {
        std::memset(&state, 0, sizeof state);
        ok = res_ninit(&state) == 0;
    }
    ~ResolverState() {
        if (ok) res_nclose(&state);
    }
    ResolverState(const ResolverState&) = delete;
    ResolverState& operator=(const ResolverState&) = delete;
};

// Skips a (possibly compressed) name at `pos`; false when it runs past the
// end or holds a label length no name may have.
bool skipName(std::span<const std::uint8_t> m, std::size_t& pos) {
    for (int labels = 0; labels < 128; ++labels) {
        if (pos >= m.size()) return false;
        std::uint8_t len = m[pos];
        if (len == 0) {
            pos += 1;
            return true;
        }
        if ((len & 0xC0) == 0xC0) {
            if (pos + 2 > m.size()) return false;
            pos += 2;
            return true;
        }
        if (len & 0xC0) return false;
        pos += 1 + len;
    }
    return false;
}

std::uint16_t read16(std::span<const std::uint8_t> m, std::size_t pos) {
    return static_cast<std::uint16_t>((m[pos] << 8) | m[pos + 1]);
}

}  // namespace

std::optional<std::vector<sockaddr_storage>> DNSResolver::configuredServers() {
    ResolverState r;
    if (!r.ok) return std::nullopt;
    std::vector<sockaddr_storage> servers;
    for (int i = 0; i < r.state.nscount && i < MAXNS; ++i) {
        sockaddr_storage slot{};
        // IPv6 servers live in the extension array, their classic slot left
        // without a family.
        if (const sockaddr_in6* six = r.state._u._ext.nsaddrs[i]; six && six->sin6_family == AF_INET6)
            std::memcpy(&slot, six, sizeof *six);
        else
            std::memcpy(&slot, &r.state.nsaddr_list[i], sizeof r.state.nsaddr_list[i]);
        servers.push_back(slot);
    }
    return servers;
}

DNSResolver::AAAAAnswer DNSResolver::queryAAAA(const std::string& name, const std::optional<sockaddr_in>& nameserver) {
    AAAAAnswer answer;
    ResolverState r;
    if (!r.ok) {
        answer.error = "resolver state could not be initialised";
        return answer;
    }
    r.state.retrans = 2;
    r.state.retry = 2;
    if (nameserver) {
        r.state.nsaddr_list[0] = *nameserver;
        r.state.nscount = 1;
    }
    std::uint8_t reply[4096];
    int n = res_nquery(&r.state, name.c_str(), ns_c_in, ns_t_aaaa, reply, sizeof reply);
    if (n < 0) {
        answer.error = std::string("no answer: ") + hstrerror(r.state.res_h_errno);
        return answer;
    }
    std::string why;
    auto parsed = parseAAAAReply(std::span<const std::uint8_t>(reply, std::min<std::size_t>(n, sizeof reply)), &why);
    if (!parsed) {
        answer.error = "malformed reply: " + why;
        return answer;
    }
    answer.addresses = std::move(*parsed);
    if (answer.addresses.empty()) answer.error = "no AAAA record in the reply";
    return answer;
}

std::optional<std::vector<DNSResolver::Address6>> DNSResolver::parseAAAAReply(std::span<const std::uint8_t> m,
                                                                              std::string* why) {
    auto fail = [&](const char* reason) -> std::optional<std::vector<Address6>> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (m.size() < 12) return fail("shorter than a header");
    if (!(m[2] & 0x80)) return fail("not a response");
    if ((m[3] & 0x0F) != 0) return fail("error response code");
    std::size_t questions = read16(m, 4), answers = read16(m, 6);
    std::size_t pos = 12;
    for (std::size_t i = 0; i < questions; ++i) {
        if (!skipName(m, pos) || pos + 4 > m.size()) return fail("truncated question");
        pos += 4;
    }
    std::vector<Address6> out;
    for (std::size_t i = 0; i < answers; ++i) {
        if (!skipName(m, pos) || pos + 10 > m.size()) return fail("truncated record");
        std::uint16_t type = read16(m, pos), klass = read16(m, pos + 2), length = read16(m, pos + 8);
        pos += 10;
        if (pos + length > m.size()) return fail("record data past the end");
        if (type == ns_t_aaaa && klass == ns_c_in) {
            if (length != 16) return fail("AAAA record not 16 bytes long");
            Address6 a;
            std::memcpy(a.data(), m.data() + pos, 16);
            out.push_back(a);
        }
        pos += length;
    }
    return out;
}

}  // namespace pellix::platform
