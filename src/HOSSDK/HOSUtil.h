// HOSUtil: the storage client's toolbox of class functions: digests and
// encodings, URL and query building, name validation, request bodies, host
// and network facts, files and content types, and the CRC-64 entry points.
//
// Conventions every caller relies on:
// - MD5 digests as text are 32 upper-case hex digits; SHA-1 digests 40
//   lower-case; "Content-MD5" is the Base64 of the 16 raw MD5 bytes.
// - Functions answer std::nullopt where there is nothing to answer (a file
//   that cannot be read, a null pointer); none reports an error object and
//   none throws.
// - File digests read 8192 bytes at a time, so memory stays bounded by one
//   chunk whatever the file size.
//
// Thread-safety: every function may be called from any thread; the lazily
// built tables (sub-resource names, content types, documents directory) are
// built once under once-guards and only read afterwards.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/URL.h"
#include "platform/Value.h"

namespace pellix {

class HOSUtil {
public:
    HOSUtil() = delete;

    using ByteSpan = std::span<const std::uint8_t>;

    // Domain suffixes of the service's own bucket hosts (public and internal).
    static constexpr std::string_view kPublicDomainSuffix = ".hos.halvane.com";
    static constexpr std::string_view kInternalDomainSuffix = ".hos-internal.halvane.com";
    // The vendor HTTPS address whose proxy setting isNetworkDelegateState tests.
    static constexpr std::string_view kProxyProbeURL = "https://www.halvane.com";

    // --- Digests, encodings and signing ---------------------------------

    // Base64 (28 characters) of HMAC-SHA1 keyed with `secret` over `text`.
    static std::string calBase64Sha1WithData(std::string_view text, std::string_view secret);
    // Base64 of exactly 20 bytes (28 characters, one "=").
    static std::string calBase64WithData(const std::uint8_t* bytes20);
    // Base64 with a CR LF after every 64 output characters (so breaks appear
    // only for inputs over 48 bytes). std::nullopt for a null pointer or a
    // negative length.
    static std::optional<std::string> base64ForData(const std::uint8_t* bytes, std::int32_t length);
    // 16-byte MD5 digest.
    static platform::Bytes dataMD5(ByteSpan data);
    // MD5 of the file's bytes; std::nullopt when it cannot be opened or read.
    static std::optional<platform::Bytes> fileMD5(const std::string& path);
    // 32 upper-case hex digits of 16 digest bytes.
    static std::string convertMd5Bytes2String(const std::uint8_t* md5);
    static std::string dataMD5String(ByteSpan data);
    static std::optional<std::string> fileMD5String(const std::string& path);
    // Base64 (24 characters) of the MD5: the "Content-MD5" form.
    static std::string base64Md5ForData(ByteSpan data);
    static std::optional<std::string> base64Md5ForFilePath(const std::string& path);
    static std::optional<std::string> base64Md5ForFileURL(const platform::URL& fileURL);
    // 40 lower-case hex digits of SHA-1.
    static std::string sha1WithString(std::string_view text);
    static std::string sha1WithData(ByteSpan data);
    // Lower-case hex of 20 digest bytes; std::nullopt for a null pointer.
    static std::optional<std::string> sha1WithDigest(const std::uint8_t* digest20);
    static std::optional<std::string> sha1WithFilePath(const std::string& path);

    // "HOS <access key>:<signature>": the signature is calBase64Sha1WithData of
    // `content` with the token's secret key. Takes the federation token (any
    // record with tAccessKey() and tSecretKey() texts, plain or optional; a
    // missing text is written "(null)" as the platform formats nil).
    template <typename Token>
        requires requires(const Token& t) {
            t.tAccessKey();
            t.tSecretKey();
        }
    static std::string sign(std::string_view content, const Token& token) {
        return "HOS " + textOf(token.tAccessKey()) + ":" + calBase64Sha1WithData(content, textOf(token.tSecretKey()));
    }

    // CRC-64 (see aos_crc64.h): continue `crc` over a buffer; combine the
    // checks of two consecutive pieces given the second one's length.
    static std::uint64_t crc64ecma(std::uint64_t crc, const void* buffer, std::uint64_t length);
    static std::uint64_t crc64ForCombineCRC1(std::uint64_t crc1, std::uint64_t crc2, std::uint64_t length);

    // --- URL, query and path text ---------------------------------------

    // Percent-encodes every byte but unreserved ASCII ("A-Za-z0-9.-_~"), a
    // blank as "%20", "*" as "%2A"; "/" stays "/". Stops at a NUL byte.
    static std::string encodeURL(std::string_view text);
    // Whether the name is one of the 39 signed sub-resources (exact match).
    static bool isSubresource(std::string_view name);
    // The canonical sub-resource string for signing: sub-resource entries only,
    // trimmed, "key=value" (or "key" for an empty value), not encoded, sorted,
    // joined by "&". Non-text values use their "%@" text.
    static std::string populateSubresourceStringFromParameter(const platform::Dictionary& parameters);
    // The query string: every entry trimmed and encoded, in the dictionary's
    // order, "key=value" (or "key" for an empty value), joined by "&".
    static std::string populateQueryStringFromParameter(const platform::Dictionary& parameters);
    // The path with every occurrence of the application home removed.
    static std::string getRelativePath(std::string_view path);

    // --- Validation -------------------------------------------------------

    // 3 to 63 characters of ASCII letters, digits, "_" and "-", the first a
    // letter or digit (letters of either case). Nothing else, not even a
    // trailing line break.
    static bool validateBucketName(const std::optional<std::string>& name);
    // 1 to 1023 UTF-16 units of valid UTF-8 whose first character is neither
    // "/" nor "\".
    static bool validateObjectKey(const std::optional<std::string>& key);
    // A "." or ".." between slashes (or at either end): refused by
    // validateObjectKey, since the key would address another object.
    static bool hasDotSegment(std::string_view key);

    // --- Request bodies (UTF-8) -------------------------------------------
    // Texts taken from callers and replies (keys, ETags, locations) are
    // XML-escaped, so no object key can add elements to a request body.

    // Complete-multipart-upload XML from (part number, ETag) pairs in order.
    static platform::Bytes constructHttpBodyFromPartInfos(std::span<const std::pair<std::int32_t, std::string>> parts);
    // The same from part-info records (shared pointers with partNum() and
    // eTag()); null entries are skipped.
    template <typename PartInfoPtr>
        requires requires(const PartInfoPtr& p) {
            p->partNum();
            p->eTag();
        }
    static platform::Bytes constructHttpBodyFromPartInfos(const std::vector<PartInfoPtr>& partInfos) {
        std::vector<std::pair<std::int32_t, std::string>> parts;
        parts.reserve(partInfos.size());
        for (const auto& info : partInfos)
            if (info) parts.emplace_back(static_cast<std::int32_t>(info->partNum()), std::string(info->eTag()));
        return constructHttpBodyFromPartInfos(std::span<const std::pair<std::int32_t, std::string>>(parts));
    }
    static platform::Bytes constructHttpBodyForDeleteMultipleObjects(const std::vector<std::string>& keys, bool quiet);
    static platform::Bytes constructHttpBodyForCreateBucketWithLocation(std::string_view location);
    // "x-hos-process=trigger/callback,callback_<callback>,callback-var_<vars>",
    // each text included only when it is not blank.
    static platform::Bytes constructHttpBodyForTriggerCallback(const std::optional<std::string>& callback,
                                                               const std::optional<std::string>& callbackVariables);
    // Escapes "&", "<", ">" and carriage returns (which parsers would turn
    // into line feeds) for XML character data.
    static std::string xmlEscape(std::string_view text);

    // --- Hosts and network --------------------------------------------------

    // Whether the lower-cased host ends with the public or internal suffix.
    static bool isHosOriginBucketHost(std::string_view host);
    // Whether the proxy settings of the environment (https_proxy, then
    // all_proxy, upper or lower case, unless no_proxy exempts the probe
    // host) name a proxy host and an explicit port for kProxyProbeURL.
    static bool isNetworkDelegateState();
    // The address to connect to for a storage host: the host itself while a
    // proxy is set (isNetworkDelegateState) or while HTTP-DNS knows no
    // address for it; else the HTTP-DNS address as a URL host
    // (HOSIPv6Adapter::handleIpv4Address: bracketed IPv6 on an IPv6-only
    // network), or the host when that gives nothing. Never waits for the
    // network. A caller that gets an address connects to it with the host
    // name kept in the URL (platform::URLRequest::setConnectToAddress), so
    // TLS checks the name.
    static std::string getIpByHost(const std::string& host);
    // "[network_state]: connected" when the host HOSReachabilityManager
    // probes is reachable (either kind), else "[network_state]:
    // disconnected". Resolves that host: call it off the main queue.
    static std::string buildNetWorkConnectedMsg();
    // "[operator]: " and the cellular carrier name, or "Unknown". This
    // platform reports no cellular provider, so it is always "Unknown".
    static std::string buildOperatorMsg();

    // --- Files and device ---------------------------------------------------

    // Whether the file system of the application home has at least
    // hoskFLDefaultLogMaxFileSize bytes free for us; false when that cannot
    // be read.
    static bool hasPhoneFreeSpace();
    // Content type for an upload: the file path's extension, else the upload
    // name's, looked up exactly in the content-type table; otherwise
    // "application/octet-stream".
    static std::string detemineMimeTypeForFilePath(const std::optional<std::string>& filePath,
                                                   const std::optional<std::string>& uploadName);

private:
    static std::string textOf(const std::string& s) { return s; }
    static std::string textOf(std::string_view s) { return std::string(s); }
    static std::string textOf(const char* s) { return s ? std::string(s) : std::string("(null)"); }
    static std::string textOf(const std::optional<std::string>& s) { return s ? *s : std::string("(null)"); }
};

}  // namespace pellix
