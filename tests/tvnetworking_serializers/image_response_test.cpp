// Image responses: decoding, the inflation rules, damaged and oversized
// images.
#include <gtest/gtest.h>

#include <zlib.h>

#include "ImageFixtures.h"
#include "TVNetworking/TVImageResponseSerializer.h"
#include "platform/Device.h"

namespace pellix {
namespace {

using platform::Bytes;
using platform::ErrorPtr;
using platform::Image;

TVResponse response(const char* mime) {
    return std::make_shared<const platform::HTTPURLResponse>(*platform::URL::parse("https://h.test/img"), 200, "HTTP/1.1",
                                                             platform::HTTPURLResponse::HeaderFields{{"Content-Type", mime}});
}

Bytes bytes(const test::ImageBytes& b) { return Bytes(b.begin(), b.end()); }

TEST(TVImageResponseSerializer, InflationRules) {
    struct Case {
        const char* name;
        const char* mime;
        Bytes data;
        std::uint32_t width, height;
        bool inflated;
        std::size_t frames;
    };
    const Case cases[] = {
        {"PNG 1024x1024", "image/png", bytes(test::encodePNG(1024, 1024)), 1024, 1024, true, 1},
        {"PNG 1025x1024", "image/png", bytes(test::encodePNG(1025, 1024)), 1025, 1024, false, 1},
        {"16-bit PNG", "image/png", bytes(test::encodePNG(8, 8, true)), 8, 8, false, 1},
        {"RGB JPEG", "image/jpeg", bytes(test::encodeJPEG(40, 30)), 40, 30, true, 1},
        {"CMYK JPEG", "image/jpeg", bytes(test::encodeJPEG(16, 16, true)), 16, 16, true, 1},
        {"progressive JPEG", "image/jpeg", bytes(test::encodeJPEG(33, 17, false, true)), 33, 17, true, 1},
        {"GIF", "image/gif", bytes(test::encodeGIF(12, 10, 1)), 12, 10, true, 1},
        {"animated GIF", "image/gif", bytes(test::encodeGIF(12, 10, 3)), 12, 10, false, 3},
        {"PNG served as JPEG", "image/jpeg", bytes(test::encodePNG(5, 5)), 5, 5, true, 1},
    };
    auto serializer = TVImageResponseSerializer::serializer();
    serializer->setImageScale(2);
    for (const Case& c : cases) {
        ErrorPtr error;
        auto image = serializer->responseObject(response(c.mime), c.data, &error).image();
        ASSERT_TRUE(image) << c.name;
        EXPECT_FALSE(error) << c.name;
        EXPECT_EQ(image->width(), c.width) << c.name;
        EXPECT_EQ(image->height(), c.height) << c.name;
        EXPECT_EQ(image->decoded(), c.inflated) << c.name;
        EXPECT_EQ(image->frameCount(), c.frames) << c.name;
        if (c.frames == 1) {
            EXPECT_EQ(image->scale(), 2) << c.name;
        }
        // Lazily held pixels still decode on demand.
        auto pixels = image->pixels();
        ASSERT_TRUE(pixels) << c.name;
        EXPECT_EQ(pixels->size(), std::size_t(c.width) * c.height * 4) << c.name;
    }
    serializer->setAutomaticallyInflatesResponseImage(false);
    auto lazy = serializer->responseObject(response("image/png"), bytes(test::encodePNG(4, 4)), nullptr).image();
    ASSERT_TRUE(lazy);
    EXPECT_FALSE(lazy->decoded());
    EXPECT_EQ(TVImageResponseSerializer().imageScale(), platform::Device::currentDevice().screenScale());
}

TEST(TVImageResponseSerializer, DecodedPixelsAreRight) {
    // encodePNG writes byte i of the RGBA buffer as (i * 7) ^ (i >> 9).
    auto image = TVImageWithDataAtScale(bytes(test::encodePNG(20, 13)), 1);
    ASSERT_TRUE(image);
    auto pixels = image->pixels();
    ASSERT_TRUE(pixels);
    for (std::size_t i = 0; i < pixels->size(); ++i)
        ASSERT_EQ((*pixels)[i], static_cast<std::uint8_t>((i * 7) ^ (i >> 9))) << i;
    // GIF frame 1: colour index (x + y) & 3 over black, red, green, blue.
    auto gif = TVImageWithDataAtScale(bytes(test::encodeGIF(5, 3, 2)), 1);
    ASSERT_TRUE(gif);
    auto gifPixels = gif->pixels();
    const std::uint8_t red[] = {255, 0, 0, 255}, blue[] = {0, 0, 255, 255};
    EXPECT_TRUE(std::equal(red, red + 4, gifPixels->data() + 4 * 1));             // (1,0) → 1
    EXPECT_TRUE(std::equal(blue, blue + 4, gifPixels->data() + 4 * (5 * 2 + 1)));  // (1,2) → 3
}

void setChunkCRC(Bytes& png, std::size_t chunkStart, std::size_t length) {
    uLong crc = crc32(0, png.data() + chunkStart + 4, static_cast<uInt>(length + 4));
    std::size_t at = chunkStart + 8 + length;
    for (int k = 0; k < 4; ++k) png[at + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
}

TEST(TVImageResponseSerializer, BadImagesGiveNothingAndNoError) {
    auto serializer = TVImageResponseSerializer::serializer();

    Bytes huge = bytes(test::encodePNG(2, 2));  // IHDR starts at byte 8
    for (int k = 0; k < 4; ++k) huge[16 + k] = huge[20 + k] = static_cast<std::uint8_t>(k == 1 ? 0x01 : 0);  // 65536 × 65536
    setChunkCRC(huge, 8, 13);
    Bytes wide = bytes(test::encodePNG(2, 2));
    wide[16] = 0, wide[17] = 0, wide[18] = 0x40, wide[19] = 0;  // 16384 × 2: accepted size
    wide[20] = 0, wide[21] = 0, wide[22] = 0x08, wide[23] = 0;  // 16384 × 2048 = 32 Mpx: still within the cap
    setChunkCRC(wide, 8, 13);

    Bytes jpeg = bytes(test::encodeJPEG(8, 8));
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // SOF0: height, width at +5, +7
            jpeg[i + 5] = jpeg[i + 7] = 0xFF;
            jpeg[i + 6] = jpeg[i + 8] = 0x00;  // 65280 × 65280
            break;
        }
    }
    Bytes truncated = bytes(test::encodePNG(64, 64));
    truncated.resize(truncated.size() / 2);
    Bytes gif = bytes(test::encodeGIF(8, 8, 1));
    gif.resize(gif.size() - 12);

    struct Case {
        const char* name;
        const char* mime;
        Bytes data;
    };
    const Case cases[] = {
        {"not an image", "image/png", Bytes{'h', 'e', 'l', 'l', 'o'}},
        {"empty body", "image/png", Bytes{}},
        {"PNG header claiming 65536 × 65536", "image/png", huge},
        {"JPEG header claiming 65280 × 65280", "image/jpeg", jpeg},
        {"truncated PNG pixel data", "image/png", truncated},
        {"truncated GIF", "image/gif", gif},
    };
    for (const Case& c : cases) {
        ErrorPtr error;
        EXPECT_TRUE(serializer->responseObject(response(c.mime), c.data, &error).isNil()) << c.name;
        EXPECT_FALSE(error) << c.name;
    }
    // A large but acceptable header is kept lazily and never inflated here.
    ErrorPtr probeError;
    auto header = Image::probe(wide, &probeError);
    ASSERT_TRUE(header) << (probeError ? probeError->description() : "");
    EXPECT_EQ(header->width, 16384u);
    ErrorPtr tooLarge;
    EXPECT_FALSE(Image::probe(huge, &tooLarge));
    ASSERT_TRUE(tooLarge);
    EXPECT_EQ(tooLarge->domain(), Image::kErrorDomain);

    // Damage found only when decoding is reported by the lazy image.
    auto lazy = TVImageWithDataAtScale(truncated, 1);
    ASSERT_TRUE(lazy);
    EXPECT_FALSE(lazy->pixels());
    EXPECT_TRUE(lazy->decodeError());
}

}  // namespace
}  // namespace pellix
