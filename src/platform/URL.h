// URL: a parsed URI reference (RFC 3986), as the platform's URL type holds it.
//
// Components are kept in their percent-encoded form, exactly as written, so
// that a URL prints back unchanged; decoding is an explicit step. The scheme
// and the host are lower-cased (they are case-insensitive). Parsing is strict
// in the way the platform's is: spaces, control characters, non-ASCII bytes
// and characters that must always be escaped make the text no URL at all.
// A URL is a plain value type; share it between threads only as const.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellix::platform {

class URL {
public:
    // Characters that need no escaping in each component (RFC 3986), for
    // percentEncode. Unreserved characters are always allowed.
    static constexpr std::string_view kQueryAllowed = "!$&'()*+,;=:@/?";
    static constexpr std::string_view kPathAllowed = "!$&'()*+,;=:@/";
    static constexpr std::string_view kFragmentAllowed = "!$&'()*+,;=:@/?";
    static constexpr std::string_view kHostAllowed = "!$&'()*+,;=:[]";
    static constexpr std::string_view kUserAllowed = "!$&'()*+,;=";

    // An empty relative reference ("").
    URL() = default;

    // Parses an absolute URL or a relative reference; nullopt when the text
    // is no URI reference.
    static std::optional<URL> parse(std::string_view text);
    // Parses text relative to base and resolves it (RFC 3986 section 5);
    // nullopt when the text is no URI reference or base is not absolute.
    static std::optional<URL> parse(std::string_view text, const URL& base);
    // "file://" URL of an absolute file system path, escaped as needed.
    static URL fileURL(std::string_view absolutePath);

    // This reference resolved against base (which must be absolute; when it
    // is not, the result is this reference unchanged).
    URL resolvedAgainst(const URL& base) const;

    bool isAbsolute() const { return !scheme_.empty(); }
    bool isFileURL() const { return scheme_ == "file"; }

    const std::string& scheme() const { return scheme_; }
    bool hasAuthority() const { return hasAuthority_; }
    // Percent-encoded user and password of the authority, when present.
    const std::optional<std::string>& user() const { return user_; }
    const std::optional<std::string>& password() const { return password_; }
    // Host without the brackets of an IP literal; empty when none.
    const std::string& host() const { return host_; }
    // Host as it is written in a URL: IPv6 literals in brackets.
    std::string hostForURL() const;
    const std::optional<int>& port() const { return port_; }
    // The explicit port, else 443 for https, 80 for http, else -1.
    int effectivePort() const;
    // Percent-encoded path ("" or starting with "/" for URLs with a host).
    const std::string& percentEncodedPath() const { return path_; }
    // The path decoded (invalid escapes are kept as written).
    std::string path() const;
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }

    // The whole reference as text.
    std::string absoluteString() const;
    // Scheme, authority, path and query: what an HTTP request names.
    std::string stringWithoutFragment() const;

    // Each byte not unreserved and not in `allowed` becomes %XX (upper hex).
    static std::string percentEncode(std::string_view text, std::string_view allowed);
    // Decodes %XX escapes; nullopt when an escape is malformed.
    static std::optional<std::string> percentDecode(std::string_view text);

    friend bool operator==(const URL& a, const URL& b) { return a.absoluteString() == b.absoluteString(); }

private:
    std::string scheme_;
    bool hasAuthority_ = false;
    std::optional<std::string> user_;
    std::optional<std::string> password_;
    std::string host_;
    bool hostIsIPv6_ = false;
    std::optional<int> port_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

}  // namespace pellix::platform
