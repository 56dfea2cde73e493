// Fuzz target: one storage reply (status, header lines, body in chunks) fed
// to the response parser of each operation type, and to the error mapping of
// a failed reply. Checks properties, not just survival: a known type gives
// either a result or the wrong-shape error, never both; the in-memory body is
// the chunks joined, a GetObject's CRC-64 is the whole body's, and a failed
// reply's error carries minus its status.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSHttpResponseParser.h"
#include "HOSSDK/HOSNetworking.h"
#include "HOSSDK/HOSOperation.h"
#include "HOSSDK/HOSURLRequestRetryHandler.h"
#include "HOSSDK/aos_crc64.h"
#include "FuzzSupport.h"

using namespace pellix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silencePlatformLog();
    if (size < 4) return 0;
    // Bytes 0-1: status; byte 2: operation pick and CRC switch; byte 3: chunk
    // size. Then header lines "name: value\n" up to an empty line; the rest is
    // the body.
    const int status = (data[0] << 8 | data[1]) % 1000;
    // 0-20 are the operation types; 21 and -1 stand for unknown ones.
    const int pick = (data[2] & 0x7f) % 23;
    const std::int64_t type = pick == 22 ? -1 : pick;
    const bool verify = data[2] & 0x80;
    const std::size_t chunk = data[3] + 1;
    const std::string rest(reinterpret_cast<const char*>(data + 4), size - 4);
    platform::HTTPURLResponse::HeaderFields headers;
    std::size_t at = 0;
    while (at < rest.size()) {
        const auto end = rest.find('\n', at);
        const std::string line = rest.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? rest.size() : end + 1;
        if (line.empty()) break;
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        headers.emplace_back(line.substr(0, colon), line.substr(colon + 1));
    }
    const platform::Bytes body(rest.begin() + static_cast<std::ptrdiff_t>(at), rest.end());
    auto response = std::make_shared<platform::HTTPURLResponse>(*platform::URL::parse("http://h/"), status, "HTTP/1.1",
                                                                headers);

    if (HOSNetworking::isSuccessfulStatus(status)) {
        HOSHttpResponseParser parser(type);
        parser.setCrc64Verifiable(verify);
        parser.consumeHttpResponse(response);
        for (std::size_t i = 0; i < body.size(); i += chunk) {
            const auto n = std::min(chunk, body.size() - i);
            if (parser.consumeHttpResponseBody(platform::Bytes(body.begin() + i, body.begin() + i + n))->error())
                std::abort();
        }
        auto result = parser.constructResultObject();
        const bool unknown = type == 21 || type == -1;
        if (unknown && (result || parser.resultError())) std::abort();
        if (!unknown && !result == !parser.resultError()) std::abort();
        if (parser.resultError() && parser.resultError()->code() != HOSClientErrorCodeInvalidResponse) std::abort();
        if (result) {
            if (result->httpResponseCode() != status) std::abort();
            (void)result->description();
        }
        if (auto get = std::dynamic_pointer_cast<HOSGetObjectResult>(result)) {
            if (!body.empty() && (!get->downloadedData() || *get->downloadedData() != body)) std::abort();
            const auto crc = aos_crc64(0, body.data(), body.size());
            const bool expectCrc = verify && crc != 0;
            if (expectCrc != get->localCRC64ecma().has_value()) std::abort();
            if (expectCrc && *get->localCRC64ecma() != std::to_string(crc)) std::abort();
        }
    } else {
        auto error = HOSNetworking::errorForFailedReply(status, body);
        if (!error) std::abort();
        if (status == 0 ? error->code() != HOSClientErrorCodeResponseCodeZero : error->code() != -status) std::abort();
        (void)error->description();
        HOSNetworkingRequestDelegate request;
        (void)HOSURLRequestRetryHandler().shouldRetry(0, request, response, error);
    }
    return 0;
}
