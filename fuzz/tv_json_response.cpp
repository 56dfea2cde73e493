// Fuzzes the JSON response path: validation, the decoding gate, the JSON
// reader and null removal, with the first byte choosing content type, status
// and options. Any input must give an object or an error, never a crash.
#include <cstddef>
#include <cstdint>

#include "TVNetworking/TVJSONResponseSerializer.h"

using namespace pellix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t selector = data[0];
    static const char* kTypes[] = {"application/json", "text/json", "text/plain", nullptr};
    static const int kStatus[] = {200, 204, 404, 500};
    platform::HTTPURLResponse::HeaderFields headers;
    if (const char* type = kTypes[selector & 3]) headers.emplace_back("Content-Type", std::string(type) + "; charset=utf-8");
    auto response = std::make_shared<const platform::HTTPURLResponse>(*platform::URL::parse("https://h.test/api"),
                                                                      kStatus[(selector >> 2) & 3], "HTTP/1.1", headers);
    auto serializer = TVJSONResponseSerializer::serializerWithReadingOptions((selector >> 4) & 7);
    serializer->setRemovesKeysWithNullValues(selector & 0x80);
    TVResponseData body = platform::Bytes(data + 1, data + size);
    platform::ErrorPtr error;
    TVResponseObject object = serializer->responseObject(response, body, &error);
    if (object.value()) (void)object.value()->description();
    if (error) (void)error->description();
    // Without an error slot the same input must be just as safe.
    (void)serializer->responseObject(response, body, nullptr);
    return 0;
}
