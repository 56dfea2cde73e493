// HOSClientConfiguration: the settings a caller fills before creating an
// HOSClient. The client keeps the record for its whole life: the host
// exclusion list, the HTTP-DNS switch, the CRC-64 default and the user-agent
// mark are read at every request; the rest is copied once into the
// networking settings when the client is created.
//
// A passive record: no validation, no locking; set it up before sharing it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HOSSDK/HOSProperty.h"

namespace pellix {

inline constexpr const char* BACKGROUND_SESSION_IDENTIFIER = "com.halvane.hos.backgroundsession";

class HOSClientConfiguration {
public:
    HOSClientConfiguration() { init(); }

    HOS_PROPERTY(std::uint32_t, maxRetryCount, setMaxRetryCount)
    HOS_PROPERTY(std::uint32_t, maxConcurrentRequestCount, setMaxConcurrentRequestCount)
    HOS_PROPERTY(bool, enableBackgroundTransmitService, setEnableBackgroundTransmitService)
    HOS_PROPERTY(bool, isHttpdnsEnable, setIsHttpdnsEnable)
    // Spelled so: the name callers know.
    HOS_PROPERTY(std::string, backgroundSesseionIdentifier, setBackgroundSesseionIdentifier)
    HOS_PROPERTY(double, timeoutIntervalForRequest, setTimeoutIntervalForRequest)
    HOS_PROPERTY(double, timeoutIntervalForResource, setTimeoutIntervalForResource)
    HOS_PROPERTY(std::optional<std::string>, proxyHost, setProxyHost)
    HOS_PROPERTY(std::optional<std::int64_t>, proxyPort, setProxyPort)
    HOS_PROPERTY(std::optional<std::string>, userAgentMark, setUserAgentMark)
    HOS_PROPERTY(bool, crc64Verifiable, setCrc64Verifiable)

public:
    // Endpoint suffixes that name the bucket in the "Host" header of a
    // custom domain. Stored lower-cased, each entry cut after its first
    // "://"; nothing else is stripped.
    const std::vector<std::string>& cnameExcludeList() const { return cnameExcludeList_; }
    void setCnameExcludeList(const std::vector<std::string>& list);

private:
    void init();
    std::vector<std::string> cnameExcludeList_;
};

}  // namespace pellix
