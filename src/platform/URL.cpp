#include "platform/URL.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace pellix::platform {

namespace {

bool isUnreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(unsigned char c) {
    return std::string_view("!$&'()*+,;=").find(static_cast<char>(c)) != std::string_view::npos;
}
bool isHex(unsigned char c) { return std::isxdigit(c) != 0; }
int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return std::tolower(c) - 'a' + 10;
}

std::string lower(std::string_view s) {
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return r;
}

// Every byte is either allowed by `extra`, unreserved, a sub-delimiter or part
// of a well-formed %XX escape.
bool validComponent(std::string_view s, std::string_view extra) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '%') {
            if (i + 2 >= s.size() || !isHex(static_cast<unsigned char>(s[i + 1])) ||
                !isHex(static_cast<unsigned char>(s[i + 2])))
                return false;
            i += 2;
            continue;
        }
        if (isUnreserved(c) || isSubDelim(c)) continue;
        if (extra.find(static_cast<char>(c)) != std::string_view::npos) continue;
        return false;
    }
    return true;
}

// RFC 3986 5.2.4.
std::string removeDotSegments(std::string_view in) {
    std::string input(in);
    std::string out;
    while (!input.empty()) {
        if (input.rfind("../", 0) == 0) {
            input.erase(0, 3);
        } else if (input.rfind("./", 0) == 0) {
            input.erase(0, 2);
        } else if (input.rfind("/./", 0) == 0) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.rfind("/../", 0) == 0 || input == "/..") {
            input = input == "/.." ? "/" : input.substr(3);
            auto slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            std::size_t start = input[0] == '/' ? 1 : 0;
            std::size_t next = input.find('/', start);
            if (next == std::string::npos) next = input.size();
            out += input.substr(0, next);
            input.erase(0, next);
        }
    }
    return out;
}

}  // namespace

std::optional<URL> URL::parse(std::string_view text) {
    for (unsigned char c : text) {
        // Spaces, controls and non-ASCII bytes must be escaped by the caller.
        if (c <= 0x20 || c >= 0x7F) return std::nullopt;
    }
    URL u;
    std::string_view rest = text;

    // Fragment and query first: they may contain ':' and '/'.
    if (auto hash = rest.find('#'); hash != std::string_view::npos) {
        std::string_view frag = rest.substr(hash + 1);
        if (!validComponent(frag, ":@/?")) return std::nullopt;
        u.fragment_ = std::string(frag);
        rest = rest.substr(0, hash);
    }
    if (auto q = rest.find('?'); q != std::string_view::npos) {
        std::string_view query = rest.substr(q + 1);
        if (!validComponent(query, ":@/?")) return std::nullopt;
        u.query_ = std::string(query);
        rest = rest.substr(0, q);
    }

    // A scheme is letters, digits, "+-." after a first letter, before the
    // first ':' that comes before any '/'.
    auto colon = rest.find(':');
    auto slash = rest.find('/');
    if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash) && colon > 0) {
        std::string_view scheme = rest.substr(0, colon);
        bool ok = std::isalpha(static_cast<unsigned char>(scheme[0])) != 0;
        for (unsigned char c : scheme) ok = ok && (std::isalnum(c) || c == '+' || c == '-' || c == '.');
        if (!ok) return std::nullopt;
        u.scheme_ = lower(scheme);
        rest = rest.substr(colon + 1);
    } else if (colon == 0) {
        return std::nullopt;
    }

    if (rest.rfind("//", 0) == 0) {
        u.hasAuthority_ = true;
        rest = rest.substr(2);
        auto end = rest.find('/');
        std::string_view authority = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        if (auto at = authority.rfind('@'); at != std::string_view::npos) {
            std::string_view userinfo = authority.substr(0, at);
            authority = authority.substr(at + 1);
            if (!validComponent(userinfo, ":")) return std::nullopt;
            auto c = userinfo.find(':');
            u.user_ = std::string(userinfo.substr(0, c));
            if (c != std::string_view::npos) u.password_ = std::string(userinfo.substr(c + 1));
        }
        std::string_view hostport = authority;
        std::string_view portText;
        if (!hostport.empty() && hostport[0] == '[') {
            auto close = hostport.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            std::string_view literal = hostport.substr(1, close - 1);
            for (unsigned char c : literal)
                if (!(isHex(c) || c == ':' || c == '.' || c == '%' || isUnreserved(c))) return std::nullopt;
            if (literal.empty()) return std::nullopt;
            u.host_ = lower(literal);
            u.hostIsIPv6_ = true;
            std::string_view after = hostport.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':') return std::nullopt;
                portText = after.substr(1);
            }
        } else {
            auto c = hostport.rfind(':');
            if (c != std::string_view::npos) {
                portText = hostport.substr(c + 1);
                hostport = hostport.substr(0, c);
            }
            if (!validComponent(hostport, "")) return std::nullopt;
            u.host_ = lower(hostport);
        }
        if (!portText.empty()) {
            if (portText.size() > 5) return std::nullopt;
            int port = 0;
            for (unsigned char c : portText) {
                if (!std::isdigit(c)) return std::nullopt;
                port = port * 10 + (c - '0');
            }
            if (port > 65535) return std::nullopt;
            u.port_ = port;
        }
    }
    if (!validComponent(rest, ":@/")) return std::nullopt;
    u.path_ = std::string(rest);
    return u;
}

std::optional<URL> URL::parse(std::string_view text, const URL& base) {
    auto ref = parse(text);
    if (!ref || !base.isAbsolute()) return std::nullopt;
    return ref->resolvedAgainst(base);
}

URL URL::fileURL(std::string_view absolutePath) {
    URL u;
    u.scheme_ = "file";
    u.hasAuthority_ = true;
    u.path_ = percentEncode(absolutePath, kPathAllowed);
    return u;
}

URL URL::resolvedAgainst(const URL& base) const {
    if (!base.isAbsolute()) return *this;
    URL t;
    if (isAbsolute()) {
        t = *this;
        t.path_ = removeDotSegments(path_);
        return t;
    }
    t.scheme_ = base.scheme_;
    if (hasAuthority_) {
        t.hasAuthority_ = true;
        t.user_ = user_;
        t.password_ = password_;
        t.host_ = host_;
        t.hostIsIPv6_ = hostIsIPv6_;
        t.port_ = port_;
        t.path_ = removeDotSegments(path_);
        t.query_ = query_;
    } else {
        t.hasAuthority_ = base.hasAuthority_;
        t.user_ = base.user_;
        t.password_ = base.password_;
        t.host_ = base.host_;
        t.hostIsIPv6_ = base.hostIsIPv6_;
        t.port_ = base.port_;
        if (path_.empty()) {
            t.path_ = base.path_;
            t.query_ = query_ ? query_ : base.query_;
        } else {
            if (path_[0] == '/') {
                t.path_ = removeDotSegments(path_);
            } else {
                std::string merged;
                if (base.hasAuthority_ && base.path_.empty()) {
                    merged = "/" + path_;
                } else {
                    auto slash = base.path_.rfind('/');
                    merged = (slash == std::string::npos ? std::string() : base.path_.substr(0, slash + 1)) + path_;
                }
                t.path_ = removeDotSegments(merged);
            }
            t.query_ = query_;
        }
    }
    t.fragment_ = fragment_;
    return t;
}

std::string URL::hostForURL() const { return hostIsIPv6_ ? "[" + host_ + "]" : host_; }

int URL::effectivePort() const {
    if (port_) return *port_;
    if (scheme_ == "https") return 443;
    if (scheme_ == "http") return 80;
    return -1;
}

std::string URL::path() const {
    auto d = percentDecode(path_);
    return d ? *d : path_;
}

std::string URL::stringWithoutFragment() const {
    std::string s;
    // Appended piece by piece: GCC 12 at -O3 misreads `":" + text` (-Wrestrict).
    if (!scheme_.empty()) {
        s += scheme_;
        s += ':';
    }
    if (hasAuthority_) {
        s += "//";
        if (user_) {
            s += *user_;
            if (password_) {
                s += ':';
                s += *password_;
            }
            s += '@';
        }
        s += hostForURL();
        if (port_) {
            s += ':';
            s += std::to_string(*port_);
        }
    }
    s += path_;
    if (query_) {
        s += '?';
        s += *query_;
    }
    return s;
}

std::string URL::absoluteString() const {
    std::string s = stringWithoutFragment();
    if (fragment_) {
        s += '#';
        s += *fragment_;
    }
    return s;
}

std::string URL::percentEncode(std::string_view text, std::string_view allowed) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (isUnreserved(c) || (c < 0x80 && allowed.find(static_cast<char>(c)) != std::string_view::npos)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::optional<std::string> URL::percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !isHex(static_cast<unsigned char>(text[i + 1])) ||
            !isHex(static_cast<unsigned char>(text[i + 2])))
            return std::nullopt;
        out += static_cast<char>(hexValue(static_cast<unsigned char>(text[i + 1])) * 16 +
                                 hexValue(static_cast<unsigned char>(text[i + 2])));
        i += 2;
    }
    return out;
}

}  // namespace pellix::platform
