// Image: a bitmap image made from PNG, JPEG or GIF bytes (libpng,
// libjpeg-turbo, giflib), as the platform's image type holds one.
//
// Making an image from data reads only the header (format, size, bits per
// component, colour model, number of frames); the pixels are decoded on first
// use, as the platform decodes lazily. `decoded()` says whether they are
// already in memory; `inflated()` decodes at once.
//
// Bad input: the size is checked against kMaxDimension and kMaxPixels before
// any pixel memory is reserved; damaged, truncated or oversized data yields no
// image (or no pixels, when only the pixel data is damaged) and an Error in
// domain kErrorDomain, never a crash. Decoders never print.
//
// Thread-safety: an Image is immutable apart from its lazy pixel buffer,
// which is filled once under a lock; share it freely as
// std::shared_ptr<const Image>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix::platform {

class Image {
public:
    enum class Format { PNG, JPEG, GIF, Bitmap };
    enum class ColorModel { Gray, RGB, CMYK, Indexed };

    static constexpr const char* kErrorDomain = "PellixImageErrorDomain";
    enum ErrorCode : std::int64_t {
        kNotAnImage = 1,       // no PNG, JPEG or GIF signature
        kDamaged = 2,          // header or pixel data unreadable
        kTooLarge = 3,         // above kMaxDimension or kMaxPixels
    };

    // Largest side and largest pixel count accepted, checked before decoding.
    static constexpr std::uint32_t kMaxDimension = 16384;
    static constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 25;

    struct Header {
        Format format = Format::Bitmap;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        int bitsPerComponent = 8;
        ColorModel colorModel = ColorModel::RGB;
        // Frames of an animated GIF; 1 for everything else.
        std::size_t frameCount = 1;
    };

    // Reads the header of PNG, JPEG or GIF bytes; nullopt (and the reason in
    // `error`) when they are none, damaged or too large.
    static std::optional<Header> probe(const Bytes& data, ErrorPtr* error = nullptr);

    // An image over encoded bytes (pixels decoded on first use); null when
    // probe() refuses them.
    static std::shared_ptr<const Image> withData(Bytes data, double scale = 1.0, ErrorPtr* error = nullptr);
    // An image over decoded pixels: width × height RGBA8, rows top down.
    // Null when the buffer's size does not match.
    static std::shared_ptr<const Image> withPixels(std::uint32_t width, std::uint32_t height, Bytes rgba,
                                                   double scale = 1.0);

    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    std::uint32_t width() const { return header_.width; }
    std::uint32_t height() const { return header_.height; }
    double scale() const { return scale_; }
    Format format() const { return header_.format; }
    int bitsPerComponent() const { return header_.bitsPerComponent; }
    ColorModel colorModel() const { return header_.colorModel; }
    std::size_t frameCount() const { return header_.frameCount; }
    bool isAnimated() const { return header_.frameCount > 1; }

    // True once the pixels are in memory.
    bool decoded() const;
    // RGBA8 pixels with straight alpha, rows top down (an animated GIF's
    // first frame); decodes on first call. Null when the pixel data is
    // damaged (decodeError() says why).
    std::shared_ptr<const Bytes> pixels() const;
    ErrorPtr decodeError() const;

    // The same image (sharing bytes and pixels) at another scale.
    std::shared_ptr<const Image> withScale(double scale) const;
    // A decoded copy at `scale`: the pixels decoded now, the encoded bytes
    // dropped. Null when the pixel data is damaged.
    std::shared_ptr<const Image> inflated(double scale) const;

    // Decodes encoded bytes straight to pixels (what pixels() does), for
    // callers that want no Image object.
    static std::optional<Bytes> decodePixels(const Bytes& data, Header* header = nullptr, ErrorPtr* error = nullptr);

    struct State;
    Image(Header header, double scale, std::shared_ptr<State> state);

private:
    Header header_;
    double scale_;
    std::shared_ptr<State> state_;
};

}  // namespace pellix::platform
