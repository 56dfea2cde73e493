// Small encoders for test images (libpng's simplified writer, libjpeg,
// giflib), so tests build exactly the images they describe.
#pragma once

#include <gif_lib.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <vector>

#include <jpeglib.h>

namespace pellix::test {

using ImageBytes = std::vector<std::uint8_t>;

// A w × h PNG: 8-bit RGBA, or 16-bit RGB when sixteenBit is set.
inline ImageBytes encodePNG(std::uint32_t w, std::uint32_t h, bool sixteenBit = false) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = sixteenBit ? PNG_FORMAT_LINEAR_RGB : PNG_FORMAT_RGBA;
    const std::size_t channels = sixteenBit ? 3 : 4;
    const std::size_t componentSize = sixteenBit ? 2 : 1;
    std::vector<std::uint8_t> pixels(std::size_t(w) * h * channels * componentSize);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 9));
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
    ImageBytes out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr)) return {};
    out.resize(size);
    return out;
}

inline ImageBytes encodeJPEG(std::uint32_t w, std::uint32_t h, bool cmyk = false, bool progressive = false) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = cmyk ? 4 : 3;
    c.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<std::uint8_t> row(std::size_t(w) * c.input_components);
    while (c.next_scanline < h) {
        for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>(i + c.next_scanline * 3);
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    ImageBytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

inline int gifWrite(GifFileType* g, const GifByteType* data, int len) {
    auto* out = static_cast<ImageBytes*>(g->UserData);
    out->insert(out->end(), data, data + len);
    return len;
}

inline ImageBytes encodeGIF(int w, int h, int frames) {
    ImageBytes out;
    int err = 0;
    GifFileType* g = EGifOpen(&out, gifWrite, &err);
    if (!g) return {};
    GifColorType colors[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colors);
    EGifSetGifVersion(g, true);
    EGifPutScreenDesc(g, w, h, 2, 0, map);
    std::vector<GifPixelType> line(static_cast<std::size_t>(w));
    for (int f = 0; f < frames; ++f) {
        EGifPutImageDesc(g, 0, 0, w, h, false, nullptr);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) line[static_cast<std::size_t>(x)] = static_cast<GifPixelType>((x + y + f) & 3);
            EGifPutLine(g, line.data(), w);
        }
    }
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
    return out;
}

}  // namespace pellix::test
