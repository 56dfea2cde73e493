// HOSHttpdns: storage host names resolved through an HTTP-based DNS service,
// cached per host, without ever making a caller wait.
//
// asynGetIpByHost answers from the cache at once (or nothing) and starts a
// background lookup when the host is unknown, about to expire (10 s before
// its expiry) or stale (over 60 s past it): an answer is usable until 60 s
// after its expiry. One lookup per host is in flight at a time.
//
// A lookup is a GET of "https://<server>/<account id>/d?host=<host>" on the
// shared URL session; the server is an IPv4 address with an optional port.
// On an IPv6-only network the connection goes to the address HOSIPv6Adapter
// synthesises for it while the URL keeps the IPv4 address, so the server's
// certificate is still checked against the address it names. The
// reply is untrusted: only a JSON object whose "ips" list starts with an IP
// address literal makes a cache entry (expiry: arrival + "ttl" seconds);
// anything else is logged and changes nothing, so the previous entry stays.
// Times are read from platform::Clock.
//
// To use an answer, connect to the address while keeping the host name in
// the URL (platform::URLRequest::setConnectToAddress), so TLS still checks
// the name.
//
// Thread-safety: every member from any thread; the cache and the in-flight
// set share one lock, taken for reads too. Completions run on the shared URL
// session's delegate queue.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace pellix {

// The deployment's HTTP-DNS service: server address and account id (the
// defaults are placeholders a deployment replaces through setServer and
// setAccountId). The port is kept for reference: queries go over HTTPS.
inline constexpr const char* HTTPDNS_SERVER_IP = "192.0.2.53";
inline constexpr const char* HTTPDNS_SERVER_PORT = "80";
inline constexpr const char* HTTPDNS_ACCOUNT_ID = "100000";

// One cached answer.
class IpObject {
public:
    const std::string& ip() const { return ip_; }
    void setIp(std::string ip) { ip_ = std::move(ip); }
    // Seconds since 1970-01-01 UTC.
    double expiredTime() const { return expiredTime_; }
    void setExpiredTime(double t) { expiredTime_ = t; }

private:
    std::string ip_;
    double expiredTime_ = 0;
};

class HOSHttpdns {
public:
    static HOSHttpdns& sharedInstance();
    HOSHttpdns(const HOSHttpdns&) = delete;
    HOSHttpdns& operator=(const HOSHttpdns&) = delete;

    // The cached address, or nullopt; may start a background lookup.
    std::optional<std::string> asynGetIpByHost(const std::string& host);
    // Starts one background lookup for the host unless one is in flight.
    void resolveHost(const std::string& host);

    // The HTTP-DNS server: an IPv4 address literal, and a port (0: the
    // HTTPS default). For the next lookups.
    void setServer(std::string ipv4Address, int port = 0);
    void setAccountId(std::string accountId);
    // Whether a deployment named its server: the default address is a
    // placeholder that nothing may ever query, so until then the storage
    // road does not consult HTTP-DNS at all.
    bool hasServer() const;

    // The host's cache entry, and whether its lookup is in flight.
    std::optional<IpObject> ipObjectForHost(const std::string& host) const;
    bool isResolving(const std::string& host) const;

private:
    HOSHttpdns() = default;
    void finish(const std::string& host, std::optional<IpObject> answer);

    mutable std::mutex mutex_;
    std::map<std::string, IpObject> gHostIpMap_;
    std::set<std::string> penddingSet_;
    std::string serverIp_ = HTTPDNS_SERVER_IP;
    int serverPort_ = 0;
    std::string accountId_ = HTTPDNS_ACCOUNT_ID;
};

}  // namespace pellix
