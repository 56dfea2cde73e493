#include "HOSSDK/HOSHttpdns.h"

#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSIPv6/HOSIPv6Adapter.h"
#include "HOSSDK/HOSUtil.h"
#include "platform/Clock.h"
#include "platform/JSON.h"
#include "platform/URLSession.h"

namespace pellix {

namespace {

// The address of an answer, or nullopt with the reason for a reply that is
// not an answer at all.
struct Reading {
    std::optional<IpObject> answer;
    bool emptyList = false;
    const char* malformed = nullptr;
};

Reading readAnswer(const platform::Bytes& body, double now) {
    Reading r;
    auto json = platform::JSON::parse(body);
    const platform::Dictionary* object = json ? json->dictionaryIf() : nullptr;
    if (!object) {
        r.malformed = "body is not a JSON object";
        return r;
    }
    const platform::Value* ips = object->find("ips");
    if (ips && !ips->isArray() && !ips->isNull()) {
        r.malformed = "\"ips\" is not a list";
        return r;
    }
    if (!ips || ips->isNull() || ips->asArray().empty()) {
        r.emptyList = true;
        return r;
    }
    const std::string* ip = ips->asArray().front().stringIf();
    // Only an address literal may become a connection target.
    if (!ip || (!HOSIPv6Adapter::isIPv4Address(*ip) && !HOSIPv6Adapter::isIPv6Address(*ip))) {
        r.malformed = "first entry of \"ips\" is not an IP address";
        return r;
    }
    const platform::Value* ttl = object->find("ttl");
    IpObject o;
    o.setIp(*ip);
    o.setExpiredTime(now + static_cast<double>(ttl ? ttl->intValue() : 0));
    r.answer = std::move(o);
    return r;
}

}  // namespace

HOSHttpdns& HOSHttpdns::sharedInstance() {
    static HOSHttpdns* instance = new HOSHttpdns();
    return *instance;
}

std::optional<std::string> HOSHttpdns::asynGetIpByHost(const std::string& host) {
    std::optional<IpObject> entry = ipObjectForHost(host);
    double now = platform::Clock::now();
    if (!entry || now - entry->expiredTime() > 60) {
        resolveHost(host);
        return std::nullopt;
    }
    if (entry->expiredTime() - now < 10) resolveHost(host);
    return entry->ip();
}

void HOSHttpdns::resolveHost(const std::string& host) {
    std::string server, account;
    int port;
    {
        std::lock_guard lock(mutex_);
        if (!penddingSet_.insert(host).second) return;
        server = serverIp_;
        port = serverPort_;
        account = accountId_;
    }
    // On an IPv6-only network the server is reached at its synthesised IPv6
    // address, while the URL keeps the address its certificate names.
    auto address = HOSIPv6Adapter::getInstance().handleIpv4Address(server);
    std::optional<platform::URL> url;
    if (address) {
        std::string authority = HOSIPv6Adapter::isIPv6Address(server) ? "[" + server + "]" : server;
        if (port > 0) authority += ":" + std::to_string(port);
        url = platform::URL::parse("https://" + authority + "/" + account + "/d?host=" + HOSUtil::encodeURL(host));
    }
    platform::URLRequest request;
    if (url) {
        request.setURL(*url);
        if (*address != server && !request.setConnectToAddress(*address)) url.reset();
    }
    if (!url) {
        HOS_LOG_ERROR("Httpdns resolve host: %s failed, no usable server address.", host.c_str());
        finish(host, std::nullopt);
        return;
    }
    auto task = platform::URLSession::sharedSession()->dataTaskWithRequest(
        request, [this, host](std::optional<platform::Bytes> data, std::shared_ptr<const platform::HTTPURLResponse> response,
                           platform::ErrorPtr) {
            unsigned long status = (data && response) ? static_cast<unsigned long>(response->statusCode()) : 0;
            std::optional<IpObject> answer;
            if (status == 200) {
                Reading r = readAnswer(*data, platform::Clock::now());
                if (r.answer) {
                    answer = r.answer;
                    HOS_LOG_DEBUG("Httpdns resolve host: %s success, ip: %s, expiredTime: %lf", host.c_str(),
                                  answer->ip().c_str(), answer->expiredTime());
                } else if (r.emptyList) {
                    HOS_LOG_ERROR("Httpdns resolve host: %s failed, ip list empty.", host.c_str());
                } else {
                    HOS_LOG_ERROR("Httpdns resolve host: %s failed, malformed answer: %s.", host.c_str(), r.malformed);
                }
            } else {
                HOS_LOG_ERROR("Httpdns resolve host: %s failed, responseCode: %lu", host.c_str(), status);
            }
            finish(host, std::move(answer));
        });
    task->resume();
}

void HOSHttpdns::finish(const std::string& host, std::optional<IpObject> answer) {
    std::lock_guard lock(mutex_);
    if (answer) gHostIpMap_[host] = std::move(*answer);
    penddingSet_.erase(host);
}

void HOSHttpdns::setServer(std::string ipv4Address, int port) {
    std::lock_guard lock(mutex_);
    serverIp_ = std::move(ipv4Address);
    serverPort_ = port;
}

bool HOSHttpdns::hasServer() const {
    std::lock_guard lock(mutex_);
    return serverIp_ != HTTPDNS_SERVER_IP;
}

void HOSHttpdns::setAccountId(std::string accountId) {
    std::lock_guard lock(mutex_);
    accountId_ = std::move(accountId);
}

std::optional<IpObject> HOSHttpdns::ipObjectForHost(const std::string& host) const {
    std::lock_guard lock(mutex_);
    auto it = gHostIpMap_.find(host);
    if (it == gHostIpMap_.end()) return std::nullopt;
    return it->second;
}

bool HOSHttpdns::isResolving(const std::string& host) const {
    std::lock_guard lock(mutex_);
    return penddingSet_.count(host) != 0;
}

}  // namespace pellix
