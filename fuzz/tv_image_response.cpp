// Fuzzes the image response path: header probing, inflation and the PNG,
// JPEG and GIF decoders, with the first byte choosing the MIME type and the
// inflation switch. Damaged or oversized images must be refused cleanly.
#include <cstddef>
#include <cstdint>

#include "TVNetworking/TVImageResponseSerializer.h"

using namespace pellix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t selector = data[0];
    static const char* kTypes[] = {"image/png", "image/jpeg", "image/gif", "application/octet-stream"};
    platform::HTTPURLResponse::HeaderFields headers{{"Content-Type", kTypes[selector & 3]}};
    auto response = std::make_shared<const platform::HTTPURLResponse>(*platform::URL::parse("https://h.test/img"), 200,
                                                                      "HTTP/1.1", headers);
    auto serializer = TVImageResponseSerializer::serializer();
    serializer->setAutomaticallyInflatesResponseImage(!(selector & 4));
    platform::ErrorPtr error;
    TVResponseObject object = serializer->responseObject(response, platform::Bytes(data + 1, data + size), &error);
    if (auto image = object.image()) {
        // Decode lazily held pixels too, within a size that keeps runs fast.
        if (std::uint64_t(image->width()) * image->height() <= 4u * 1024 * 1024) {
            auto pixels = image->pixels();
            if (pixels && pixels->size() != std::size_t(image->width()) * image->height() * 4) __builtin_trap();
        }
    }
    return 0;
}
