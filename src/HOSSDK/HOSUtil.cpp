#include "HOSSDK/HOSUtil.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "HOSSDK/HOSContentTypeMap.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSHttpdns.h"
#include "HOSSDK/HOSIPv6/HOSIPv6Adapter.h"
#include "HOSSDK/HOSIPv6/HOSReachability.h"
#include "HOSSDK/HOSIPv6/HOSReachabilityManager.h"
#include "HOSSDK/NSString+HOS.h"
#include "HOSSDK/aos_crc64.h"
#include "platform/Crypto.h"
#include "platform/Paths.h"

namespace pellix {

namespace crypto = platform::crypto;

namespace {

constexpr std::size_t kChunk = 8192;

// Feeds a file to a digest in chunks; std::nullopt when the file cannot be
// opened or a read fails (a directory, an I/O error).
std::optional<platform::Bytes> fileDigest(crypto::Digest digest, const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    crypto::Hasher hasher(digest);
    std::array<std::uint8_t, kChunk> buf;
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        if (!hasher.update(crypto::ByteView(buf.data(), static_cast<std::size_t>(n)))) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return hasher.finish();
}

platform::Bytes digestOf(crypto::Digest digest, HOSUtil::ByteSpan data) {
    crypto::Hasher hasher(digest);
    // Consecutive slices, as a file is read.
    for (std::size_t off = 0; off < data.size(); off += kChunk)
        hasher.update(crypto::ByteView(data.data() + off, std::min(kChunk, data.size() - off)));
    std::optional<platform::Bytes> out = hasher.finish();
    return out ? std::move(*out) : platform::Bytes(crypto::digestLength(digest), 0);
}

std::string hexOf(const std::uint8_t* bytes, std::size_t n, bool upper) {
    static constexpr char kUpper[] = "0123456789ABCDEF";
    static constexpr char kLower[] = "0123456789abcdef";
    const char* digits = upper ? kUpper : kLower;
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
    return out;
}

const std::vector<std::string_view>& subresources() {
    static const std::vector<std::string_view>* list = new std::vector<std::string_view>{
        "acl",          "uploads",
        "location",     "cors",
        "logging",      "website",
        "referer",      "lifecycle",
        "delete",       "append",
        "tagging",      "objectMeta",
        "uploadId",     "partNumber",
        "security-token", "position",
        "img",          "style",
        "styleName",    "replication",
        "replicationProgress", "replicationLocation",
        "cname",        "bucketInfo",
        "comp",         "qos",
        "live",         "status",
        "vod",          "startTime",
        "endTime",      "symlink",
        "x-hos-process", "response-content-type",
        "response-content-language", "response-expires",
        "response-cache-control", "response-content-disposition",
        "response-content-encoding"};
    return *list;
}

// A dictionary value as the text the query builders put in.
std::string valueText(const platform::Value& v) {
    if (const std::string* s = v.stringIf()) return *s;
    return v.description();
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Text after the last "." of the last path component ("" when none).
std::string pathExtension(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = last.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(last.substr(dot + 1));
}

bool isValidUTF8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len;
        std::uint32_t c;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2, c = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3, c = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4, c = b & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) return false;
            c = (c << 6) | (cb & 0x3F);
        }
        static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

platform::Bytes utf8(const std::string& s) { return platform::Bytes(s.begin(), s.end()); }

std::string envProxy(const char* lowerName, const char* upperName) {
    if (const char* v = std::getenv(lowerName); v && *v) return v;
    if (const char* v = std::getenv(upperName); v && *v) return v;
    return {};
}

// Whether no_proxy exempts the host ("*", the host itself, or a domain suffix).
bool exemptedByNoProxy(std::string_view host) {
    const std::string list = envProxy("no_proxy", "NO_PROXY");
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t comma = list.find(',', pos);
        if (comma == std::string::npos) comma = list.size();
        std::string entry = lower(hos_trim(std::string_view(list).substr(pos, comma - pos)));
        pos = comma + 1;
        if (entry.empty()) continue;
        if (entry == "*") return true;
        if (entry.front() == '.') entry.erase(0, 1);
        if (host == entry || endsWith(host, "." + entry)) return true;
    }
    return false;
}

}  // namespace

// --- Digests, encodings and signing -------------------------------------

std::string HOSUtil::calBase64Sha1WithData(std::string_view text, std::string_view secret) {
    std::optional<platform::Bytes> mac = crypto::hmac(crypto::Digest::SHA1, secret, text);
    if (!mac || mac->size() != 20) mac = platform::Bytes(20, 0);
    return calBase64WithData(mac->data());
}

std::string HOSUtil::calBase64WithData(const std::uint8_t* bytes20) {
    return crypto::base64Encode(crypto::ByteView(bytes20, 20));
}

std::optional<std::string> HOSUtil::base64ForData(const std::uint8_t* bytes, std::int32_t length) {
    // A negative length would be read as a huge unsigned one; refuse it.
    if (!bytes || length < 0) return std::nullopt;
    const std::string flat = crypto::base64Encode(crypto::ByteView(bytes, static_cast<std::size_t>(length)));
    std::string out;
    out.reserve(flat.size() + flat.size() / 32);
    for (std::size_t i = 0; i < flat.size(); i += 64) {
        if (i) out += "\r\n";
        out.append(flat, i, 64);
    }
    return out;
}

platform::Bytes HOSUtil::dataMD5(ByteSpan data) { return digestOf(crypto::Digest::MD5, data); }

std::optional<platform::Bytes> HOSUtil::fileMD5(const std::string& path) {
    return fileDigest(crypto::Digest::MD5, path);
}

std::string HOSUtil::convertMd5Bytes2String(const std::uint8_t* md5) { return hexOf(md5, 16, true); }

std::string HOSUtil::dataMD5String(ByteSpan data) { return convertMd5Bytes2String(dataMD5(data).data()); }

std::optional<std::string> HOSUtil::fileMD5String(const std::string& path) {
    std::optional<platform::Bytes> md5 = fileMD5(path);
    if (!md5) return std::nullopt;
    return convertMd5Bytes2String(md5->data());
}

std::string HOSUtil::base64Md5ForData(ByteSpan data) { return crypto::base64Encode(dataMD5(data)); }

std::optional<std::string> HOSUtil::base64Md5ForFilePath(const std::string& path) {
    std::optional<platform::Bytes> md5 = fileMD5(path);
    if (!md5) return std::nullopt;
    return crypto::base64Encode(*md5);
}

std::optional<std::string> HOSUtil::base64Md5ForFileURL(const platform::URL& fileURL) {
    return base64Md5ForFilePath(fileURL.path());
}

std::string HOSUtil::sha1WithString(std::string_view text) {
    return sha1WithData(ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string HOSUtil::sha1WithData(ByteSpan data) { return *sha1WithDigest(digestOf(crypto::Digest::SHA1, data).data()); }

std::optional<std::string> HOSUtil::sha1WithDigest(const std::uint8_t* digest20) {
    if (!digest20) return std::nullopt;
    return hexOf(digest20, 20, false);
}

std::optional<std::string> HOSUtil::sha1WithFilePath(const std::string& path) {
    std::optional<platform::Bytes> sha1 = fileDigest(crypto::Digest::SHA1, path);
    if (!sha1) return std::nullopt;
    return sha1WithDigest(sha1->data());
}

std::uint64_t HOSUtil::crc64ecma(std::uint64_t crc, const void* buffer, std::uint64_t length) {
    return aos_crc64(crc, buffer, static_cast<std::size_t>(length));
}

std::uint64_t HOSUtil::crc64ForCombineCRC1(std::uint64_t crc1, std::uint64_t crc2, std::uint64_t length) {
    return aos_crc64_combine(crc1, crc2, length);
}

// --- URL, query and path text -------------------------------------------

std::string HOSUtil::encodeURL(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == 0) break;
        if (b == ' ') {
            out += "%20";
        } else if (b == '*') {
            out += "%2A";
        } else if (b == '/') {
            out += '/';  // "%2F" is turned back into "/"
        } else if (b == '.' || b == '-' || b == '_' || b == '~' || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') ||
                   (b >= '0' && b <= '9')) {
            out += static_cast<char>(b);
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

bool HOSUtil::isSubresource(std::string_view name) {
    const auto& list = subresources();
    return std::find(list.begin(), list.end(), name) != list.end();
}

std::string HOSUtil::populateSubresourceStringFromParameter(const platform::Dictionary& parameters) {
    std::vector<std::string> items;
    for (const auto& [rawKey, rawValue] : parameters) {
        std::string key = hos_trim(rawKey);
        if (!isSubresource(key)) continue;
        std::string value = hos_trim(valueText(rawValue));
        items.push_back(value.empty() ? key : key + "=" + value);
    }
    std::sort(items.begin(), items.end(),
              [](const std::string& a, const std::string& b) { return platform::compareUTF16(a, b) < 0; });
    std::string out;
    for (const std::string& item : items) {
        if (!out.empty()) out += '&';
        out += item;
    }
    return out;
}

std::string HOSUtil::populateQueryStringFromParameter(const platform::Dictionary& parameters) {
    std::string out;
    bool first = true;
    for (const auto& [rawKey, rawValue] : parameters) {
        const std::string key = encodeURL(hos_trim(rawKey));
        const std::string value = encodeURL(hos_trim(valueText(rawValue)));
        if (!first) out += '&';
        first = false;
        out += key;
        if (!value.empty()) out += "=" + value;
    }
    return out;
}

std::string HOSUtil::getRelativePath(std::string_view path) {
    const std::string home = platform::Paths::homeDirectory();
    std::string out(path);
    if (home.empty()) return out;
    for (std::size_t pos = out.find(home); pos != std::string::npos; pos = out.find(home, pos)) out.erase(pos, home.size());
    return out;
}

// --- Validation -----------------------------------------------------------

bool HOSUtil::validateBucketName(const std::optional<std::string>& name) {
    if (!name || name->size() < 3 || name->size() > 63) return false;
    auto alnum = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
    if (!alnum(name->front())) return false;
    return std::all_of(name->begin() + 1, name->end(), [&](char c) { return alnum(c) || c == '_' || c == '-'; });
}

bool HOSUtil::validateObjectKey(const std::optional<std::string>& key) {
    if (!key || key->empty()) return false;
    if (!isValidUTF8(*key)) return false;
    const std::size_t units = platform::utf16Length(*key);
    if (units < 1 || units > 1023) return false;
    if (key->front() == '/' || key->front() == '\\') return false;
    return !hasDotSegment(*key);
}

bool HOSUtil::hasDotSegment(std::string_view key) {
    // Every transport and server resolves "." and ".." in a path, so such a
    // key would be sent as, and act on, another object's name.
    for (std::size_t start = 0;;) {
        const std::size_t end = key.find('/', start);
        const auto segment = key.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (segment == "." || segment == "..") return true;
        if (end == std::string_view::npos) return false;
        start = end + 1;
    }
}

// --- Request bodies ---------------------------------------------------------

std::string HOSUtil::xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\r': out += "&#13;"; break;
            default: out += c;
        }
    }
    return out;
}

platform::Bytes HOSUtil::constructHttpBodyFromPartInfos(std::span<const std::pair<std::int32_t, std::string>> parts) {
    std::string body = "<CompleteMultipartUpload>\n";
    for (const auto& [number, eTag] : parts) {
        body += "<Part>\n<PartNumber>" + std::to_string(number) + "</PartNumber>\n<ETag>" + xmlEscape(eTag) +
                "</ETag>\n</Part>\n";
    }
    body += "</CompleteMultipartUpload>\n";
    HOS_LOG_VERBOSE("constucted complete multipart upload body:\n%s", body.c_str());
    return utf8(body);
}

platform::Bytes HOSUtil::constructHttpBodyForDeleteMultipleObjects(const std::vector<std::string>& keys, bool quiet) {
    std::string body = "<Delete>\n<Quiet>";
    body += quiet ? "true" : "false";
    body += "</Quiet>\n";
    for (const std::string& key : keys) body += "<Object>\n<Key>" + xmlEscape(key) + "</Key>\n</Object>\n";
    body += "</Delete>\n";
    HOS_LOG_VERBOSE("constucted delete multiple objects body:\n%s", body.c_str());
    return utf8(body);
}

platform::Bytes HOSUtil::constructHttpBodyForCreateBucketWithLocation(std::string_view location) {
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CreateBucketConfiguration>\n<LocationConstraint>";
    body += xmlEscape(location);
    body += "</LocationConstraint>\n</CreateBucketConfiguration>\n";
    HOS_LOG_VERBOSE("constucted create bucket body:\n%s", body.c_str());
    return utf8(body);
}

platform::Bytes HOSUtil::constructHttpBodyForTriggerCallback(const std::optional<std::string>& callback,
                                                             const std::optional<std::string>& callbackVariables) {
    std::string body = "x-hos-process=trigger/callback,callback_";
    if (hos_isNotEmpty(callback)) body += *callback;
    body += ",callback-var_";
    if (hos_isNotEmpty(callbackVariables)) body += *callbackVariables;
    return utf8(body);
}

// --- Hosts and network ------------------------------------------------------

bool HOSUtil::isHosOriginBucketHost(std::string_view host) {
    const std::string h = lower(host);
    return endsWith(h, kPublicDomainSuffix) || endsWith(h, kInternalDomainSuffix);
}

bool HOSUtil::isNetworkDelegateState() {
    const std::optional<platform::URL> probe = platform::URL::parse(kProxyProbeURL);
    if (probe && exemptedByNoProxy(lower(probe->host()))) return false;
    std::string proxy = envProxy("https_proxy", "HTTPS_PROXY");
    if (proxy.empty()) proxy = envProxy("all_proxy", "ALL_PROXY");
    if (proxy.empty()) return false;
    // A bare "host:port" means an HTTP proxy.
    if (proxy.find("://") == std::string::npos) proxy = "http://" + proxy;
    const std::optional<platform::URL> url = platform::URL::parse(proxy);
    return url && !url->host().empty() && url->port().has_value();
}

std::string HOSUtil::buildOperatorMsg() { return "[operator]: Unknown"; }

std::string HOSUtil::getIpByHost(const std::string& host) {
    if (isNetworkDelegateState()) {
        HOS_LOG_DEBUG("current network is delegate state");
        return host;
    }
    std::optional<std::string> ip = HOSHttpdns::sharedInstance().asynGetIpByHost(host);
    HOS_LOG_DEBUG("resolved host %s and get ip: %s", host.c_str(), ip ? ip->c_str() : "(null)");
    if (!ip) return host;
    // An address that cannot be made usable here falls back to the name.
    return HOSIPv6Adapter::getInstance().handleIpv4Address(ip).value_or(host);
}

std::string HOSUtil::buildNetWorkConnectedMsg() {
    auto reachability = HOSReachability::reachabilityWithHostName(HOSReachabilityManager::watchedHostName());
    if (reachability) {
        HOSNetworkStatus status = reachability->currentReachabilityStatus();
        if (status == HOSReachableViaWiFi || status == HOSReachableViaWWAN) return "[network_state]: connected";
    }
    return "[network_state]: disconnected";
}

// --- Files and device -------------------------------------------------------

bool HOSUtil::hasPhoneFreeSpace() {
    struct statvfs st {};
    if (::statvfs(platform::Paths::homeDirectory().c_str(), &st) != 0) return false;
    const unsigned long long freeBytes =
        static_cast<unsigned long long>(st.f_bavail) * static_cast<unsigned long long>(st.f_frsize);
    return freeBytes >= hoskFLDefaultLogMaxFileSize;
}

std::string HOSUtil::detemineMimeTypeForFilePath(const std::optional<std::string>& filePath,
                                                 const std::optional<std::string>& uploadName) {
    std::string ext;
    if (filePath) ext = pathExtension(*filePath);
    if (ext.empty() && uploadName) ext = pathExtension(*uploadName);
    if (ext.empty()) return std::string(HOSContentTypeMap::kDefaultType);
    const std::string* type = HOSContentTypeMap::typeForExtension(ext);
    return type ? *type : std::string(HOSContentTypeMap::kDefaultType);
}

}  // namespace pellix
