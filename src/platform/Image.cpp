#include "platform/Image.h"

#include <gif_lib.h>
#include <png.h>

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace pellix::platform {

struct Image::State {
    std::shared_ptr<const Bytes> data;
    std::once_flag once;
    std::atomic<bool> done{false};
    std::shared_ptr<const Bytes> pixels;
    ErrorPtr error;
};

namespace {

ErrorPtr imageError(std::int64_t code, const std::string& what) {
    return Error::make(Image::kErrorDomain, code, Dictionary{{Error::kLocalizedDescriptionKey, Value(what)}});
}

bool sizeAcceptable(std::uint64_t w, std::uint64_t h) {
    return w > 0 && h > 0 && w <= Image::kMaxDimension && h <= Image::kMaxDimension && w * h <= Image::kMaxPixels;
}

bool hasPrefix(const Bytes& d, const char* sig, std::size_t n) { return d.size() >= n && std::memcmp(d.data(), sig, n) == 0; }

// ---- PNG -------------------------------------------------------------------

struct PngSource {
    const std::uint8_t* p;
    std::size_t size;
    std::size_t off;
};

[[noreturn]] void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

void pngRead(png_structp png, png_bytep out, png_size_t len) {
    auto* s = static_cast<PngSource*>(png_get_io_ptr(png));
    if (len > s->size - s->off) png_error(png, "truncated");
    std::memcpy(out, s->p + s->off, len);
    s->off += len;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngSource src{};
    explicit PngReader(const Bytes& data) {
        src = PngSource{data.data(), data.size(), 0};
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
        if (png) info = png_create_info_struct(png);
        if (png && info) {
            png_set_read_fn(png, &src, pngRead);
            png_set_user_limits(png, Image::kMaxDimension, Image::kMaxDimension);
            png_set_chunk_malloc_max(png, 8u << 20);
        }
    }
    ~PngReader() { png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr); }
    bool ok() const { return png && info; }
};

// Only C objects live between setjmp and any longjmp back to it.
bool pngReadHeader(PngReader& r, Image::Header& h, bool setTransforms) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_read_info(r.png, r.info);
    png_uint_32 w = 0, ht = 0;
    int depth = 0, colorType = 0;
    png_get_IHDR(r.png, r.info, &w, &ht, &depth, &colorType, nullptr, nullptr, nullptr);
    h.format = Image::Format::PNG;
    h.width = w;
    h.height = ht;
    h.bitsPerComponent = depth;
    h.colorModel = (colorType & PNG_COLOR_MASK_PALETTE) ? Image::ColorModel::Indexed
                   : (colorType & PNG_COLOR_MASK_COLOR) ? Image::ColorModel::RGB
                                                        : Image::ColorModel::Gray;
    if (setTransforms && sizeAcceptable(w, ht)) {
        if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
        if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
        if (png_get_valid(r.png, r.info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(r.png);
        if (depth == 16) png_set_strip_16(r.png);
        if (!(colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(r.png);
        png_set_filler(r.png, 0xFF, PNG_FILLER_AFTER);
        png_set_interlace_handling(r.png);
        png_read_update_info(r.png, r.info);
        if (png_get_rowbytes(r.png, r.info) != std::size_t(w) * 4) return false;
    }
    return true;
}

bool pngReadRows(PngReader& r, png_bytep* rows) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_read_image(r.png, rows);
    return true;
}

// ---- JPEG ------------------------------------------------------------------

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); }
void jpegMessage(j_common_ptr) {}
void jpegEmit(j_common_ptr, int) {}

// Progressive files with thousands of scans take very long to decode; no
// real image needs that many.
constexpr int kMaxJpegScans = 500;
void jpegProgress(j_common_ptr c) {
    if (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxJpegScans) jpegErrorExit(c);
}

struct JpegReader {
    jpeg_decompress_struct cinfo{};
    JpegError err{};
    jpeg_progress_mgr progress{};
    bool created = false;
    JpegReader() {
        cinfo.err = jpeg_std_error(&err.mgr);
        err.mgr.error_exit = jpegErrorExit;
        err.mgr.output_message = jpegMessage;
        err.mgr.emit_message = jpegEmit;
        progress.progress_monitor = jpegProgress;
    }
    ~JpegReader() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

bool jpegReadHeader(JpegReader& r, const Bytes& data, Image::Header& h) {
    if (setjmp(r.err.jump)) return false;
    jpeg_create_decompress(&r.cinfo);
    r.created = true;
    r.cinfo.progress = &r.progress;
    r.cinfo.mem->max_memory_to_use = 512L << 20;
    jpeg_mem_src(&r.cinfo, data.data(), static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&r.cinfo, TRUE) != JPEG_HEADER_OK) return false;
    h.format = Image::Format::JPEG;
    h.width = r.cinfo.image_width;
    h.height = r.cinfo.image_height;
    h.bitsPerComponent = r.cinfo.data_precision;
    switch (r.cinfo.jpeg_color_space) {
        case JCS_CMYK:
        case JCS_YCCK: h.colorModel = Image::ColorModel::CMYK; break;
        case JCS_GRAYSCALE: h.colorModel = Image::ColorModel::Gray; break;
        default: h.colorModel = Image::ColorModel::RGB; break;
    }
    return true;
}

bool jpegDecode(JpegReader& r, std::uint8_t* out, std::uint8_t* cmykRow) {
    if (setjmp(r.err.jump)) return false;
    bool cmyk = r.cinfo.jpeg_color_space == JCS_CMYK || r.cinfo.jpeg_color_space == JCS_YCCK;
    r.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&r.cinfo);
    const JDIMENSION w = r.cinfo.output_width;
    if (w != r.cinfo.image_width || r.cinfo.output_height != r.cinfo.image_height || r.cinfo.output_components != 4)
        return false;
    // Adobe writes CMYK inverted.
    const bool inverted = r.cinfo.saw_Adobe_marker;
    while (r.cinfo.output_scanline < r.cinfo.output_height) {
        std::uint8_t* row = out + std::size_t(r.cinfo.output_scanline) * w * 4;
        JSAMPROW target = cmyk ? cmykRow : row;
        if (jpeg_read_scanlines(&r.cinfo, &target, 1) != 1) return false;
        if (cmyk) {
            for (JDIMENSION x = 0; x < w; ++x) {
                unsigned c = cmykRow[4 * x], m = cmykRow[4 * x + 1], y = cmykRow[4 * x + 2], k = cmykRow[4 * x + 3];
                if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
                row[4 * x] = static_cast<std::uint8_t>(c * k / 255);
                row[4 * x + 1] = static_cast<std::uint8_t>(m * k / 255);
                row[4 * x + 2] = static_cast<std::uint8_t>(y * k / 255);
                row[4 * x + 3] = 255;
            }
        }
    }
    return true;
}

// ---- GIF -------------------------------------------------------------------

struct GifSource {
    const std::uint8_t* p;
    std::size_t size;
    std::size_t off;
};

int gifRead(GifFileType* g, GifByteType* out, int len) {
    auto* s = static_cast<GifSource*>(g->UserData);
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len < 0 ? 0 : len), s->size - s->off);
    std::memcpy(out, s->p + s->off, n);
    s->off += n;
    return static_cast<int>(n);
}

// Walks every record; counts frames and, when `canvas` is given, renders the
// first frame into it (RGBA, width × height of the header).
bool gifWalk(const Bytes& data, Image::Header& h, std::vector<std::uint8_t>* canvas, ErrorPtr* error) {
    GifSource src{data.data(), data.size(), 0};
    int err = 0;
    GifFileType* g = DGifOpen(&src, gifRead, &err);
    if (!g) {
        if (error) *error = imageError(Image::kDamaged, "unreadable GIF header");
        return false;
    }
    struct Closer {
        GifFileType* g;
        ~Closer() {
            int e = 0;
            DGifCloseFile(g, &e);
        }
    } closer{g};
    h.format = Image::Format::GIF;
    h.bitsPerComponent = 8;
    h.colorModel = Image::ColorModel::Indexed;
    h.width = static_cast<std::uint32_t>(g->SWidth);
    h.height = static_cast<std::uint32_t>(g->SHeight);
    std::size_t frames = 0;
    int transparent = -1;
    std::vector<GifByteType> line;
    auto fail = [&](const char* what) {
        if (error) *error = imageError(Image::kDamaged, what);
        return false;
    };
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(g, &type) == GIF_ERROR) {
            if (frames > 0 && !canvas) break;  // trailing damage after whole frames
            return fail("damaged GIF record");
        }
        if (type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(g, &code, &ext) == GIF_ERROR) return fail("damaged GIF extension");
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4 && frames == 0)
                transparent = (ext[1] & 1) ? ext[4] : -1;
            while (ext) {
                if (DGifGetExtensionNext(g, &ext) == GIF_ERROR) return fail("damaged GIF extension");
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) return fail("damaged GIF record");
        if (DGifGetImageDesc(g) == GIF_ERROR) return fail("damaged GIF image descriptor");
        const GifImageDesc& d = g->Image;
        if (d.Width <= 0 || d.Height <= 0 || !sizeAcceptable(std::uint64_t(d.Width), std::uint64_t(d.Height))) {
            if (error) *error = imageError(Image::kTooLarge, "GIF frame size out of range");
            return false;
        }
        ++frames;
        if (frames == 1) {
            if (h.width == 0 || h.height == 0) {
                h.width = static_cast<std::uint32_t>(d.Left + d.Width);
                h.height = static_cast<std::uint32_t>(d.Top + d.Height);
            }
            if (!sizeAcceptable(h.width, h.height)) {
                if (error) *error = imageError(Image::kTooLarge, "GIF size out of range");
                return false;
            }
        }
        if (frames == 1 && canvas) {
            const ColorMapObject* map = d.ColorMap ? d.ColorMap : g->SColorMap;
            if (!map || !map->Colors) return fail("GIF without colour map");
            canvas->assign(std::size_t(h.width) * h.height * 4, 0);
            line.resize(static_cast<std::size_t>(d.Width));
            static const int kOffsets[] = {0, 4, 2, 1}, kSteps[] = {8, 8, 4, 2};
            std::vector<int> order;
            order.reserve(static_cast<std::size_t>(d.Height));
            if (d.Interlace) {
                for (int pass = 0; pass < 4; ++pass)
                    for (int y = kOffsets[pass]; y < d.Height; y += kSteps[pass]) order.push_back(y);
            } else {
                for (int y = 0; y < d.Height; ++y) order.push_back(y);
            }
            for (int y : order) {
                if (DGifGetLine(g, line.data(), d.Width) == GIF_ERROR) return fail("damaged GIF pixel data");
                long cy = long(d.Top) + y;
                if (cy < 0 || cy >= long(h.height)) continue;
                for (int x = 0; x < d.Width; ++x) {
                    int idx = line[static_cast<std::size_t>(x)];
                    long cx = long(d.Left) + x;
                    if (idx == transparent || idx >= map->ColorCount || cx < 0 || cx >= long(h.width)) continue;
                    std::uint8_t* px = canvas->data() + (std::size_t(cy) * h.width + std::size_t(cx)) * 4;
                    px[0] = map->Colors[idx].Red;
                    px[1] = map->Colors[idx].Green;
                    px[2] = map->Colors[idx].Blue;
                    px[3] = 255;
                }
            }
            return true;  // the first frame is all pixels() needs
        }
        int codeSize = 0;
        GifByteType* block = nullptr;
        if (DGifGetCode(g, &codeSize, &block) == GIF_ERROR) return fail("damaged GIF pixel data");
        while (block) {
            if (DGifGetCodeNext(g, &block) == GIF_ERROR) return fail("damaged GIF pixel data");
        }
    }
    if (frames == 0) return fail("GIF without frames");
    h.frameCount = frames;
    return true;
}

}  // namespace

std::optional<Image::Header> Image::probe(const Bytes& data, ErrorPtr* error) {
    Header h;
    if (hasPrefix(data, "\x89PNG\r\n\x1a\n", 8)) {
        PngReader r(data);
        if (!r.ok() || !pngReadHeader(r, h, false)) {
            if (error) *error = imageError(kDamaged, "unreadable PNG header");
            return std::nullopt;
        }
    } else if (hasPrefix(data, "\xff\xd8\xff", 3)) {
        JpegReader r;
        if (!jpegReadHeader(r, data, h)) {
            if (error) *error = imageError(kDamaged, "unreadable JPEG header");
            return std::nullopt;
        }
    } else if (hasPrefix(data, "GIF87a", 6) || hasPrefix(data, "GIF89a", 6)) {
        if (!gifWalk(data, h, nullptr, error)) return std::nullopt;
    } else {
        if (error) *error = imageError(kNotAnImage, "not a PNG, JPEG or GIF image");
        return std::nullopt;
    }
    if (!sizeAcceptable(h.width, h.height)) {
        if (error) *error = imageError(kTooLarge, "image size out of range");
        return std::nullopt;
    }
    return h;
}

std::optional<Bytes> Image::decodePixels(const Bytes& data, Header* header, ErrorPtr* error) {
    Header h;
    auto damaged = [&](const char* what) -> std::optional<Bytes> {
        if (error) *error = imageError(kDamaged, what);
        return std::nullopt;
    };
    auto tooLarge = [&]() -> std::optional<Bytes> {
        if (error) *error = imageError(kTooLarge, "image size out of range");
        return std::nullopt;
    };
    Bytes out;
    if (hasPrefix(data, "\x89PNG\r\n\x1a\n", 8)) {
        PngReader r(data);
        if (!r.ok() || !pngReadHeader(r, h, true)) return damaged("unreadable PNG");
        if (!sizeAcceptable(h.width, h.height)) return tooLarge();
        out.assign(std::size_t(h.width) * h.height * 4, 0);
        std::vector<png_bytep> rows(h.height);
        for (std::uint32_t y = 0; y < h.height; ++y) rows[y] = out.data() + std::size_t(y) * h.width * 4;
        if (!pngReadRows(r, rows.data())) return damaged("damaged PNG pixel data");
    } else if (hasPrefix(data, "\xff\xd8\xff", 3)) {
        JpegReader r;
        if (!jpegReadHeader(r, data, h)) return damaged("unreadable JPEG");
        if (!sizeAcceptable(h.width, h.height)) return tooLarge();
        out.assign(std::size_t(h.width) * h.height * 4, 0);
        std::vector<std::uint8_t> cmykRow(std::size_t(h.width) * 4);
        if (!jpegDecode(r, out.data(), cmykRow.data())) return damaged("damaged JPEG pixel data");
    } else if (hasPrefix(data, "GIF87a", 6) || hasPrefix(data, "GIF89a", 6)) {
        if (!gifWalk(data, h, &out, error)) return std::nullopt;
    } else {
        if (error) *error = imageError(kNotAnImage, "not a PNG, JPEG or GIF image");
        return std::nullopt;
    }
    if (header) *header = h;
    return out;
}

Image::Image(Header header, double scale, std::shared_ptr<State> state)
    : header_(header), scale_(scale), state_(std::move(state)) {}

std::shared_ptr<const Image> Image::withData(Bytes data, double scale, ErrorPtr* error) {
    auto header = probe(data, error);
    if (!header) return nullptr;
    auto state = std::make_shared<State>();
    state->data = std::make_shared<const Bytes>(std::move(data));
    return std::make_shared<const Image>(*header, scale, std::move(state));
}

std::shared_ptr<const Image> Image::withPixels(std::uint32_t width, std::uint32_t height, Bytes rgba, double scale) {
    if (!sizeAcceptable(width, height) || rgba.size() != std::size_t(width) * height * 4) return nullptr;
    auto state = std::make_shared<State>();
    state->pixels = std::make_shared<const Bytes>(std::move(rgba));
    std::call_once(state->once, [] {});
    state->done = true;
    Header h;
    h.width = width;
    h.height = height;
    return std::make_shared<const Image>(h, scale, std::move(state));
}

bool Image::decoded() const { return state_->done.load() && state_->pixels != nullptr; }

std::shared_ptr<const Bytes> Image::pixels() const {
    std::call_once(state_->once, [this] {
        ErrorPtr err;
        auto px = decodePixels(*state_->data, nullptr, &err);
        if (px) state_->pixels = std::make_shared<const Bytes>(std::move(*px));
        else state_->error = err;
        state_->done = true;
    });
    return state_->pixels;
}

ErrorPtr Image::decodeError() const {
    pixels();
    return state_->error;
}

std::shared_ptr<const Image> Image::withScale(double scale) const {
    return std::make_shared<const Image>(header_, scale, state_);
}

std::shared_ptr<const Image> Image::inflated(double scale) const {
    auto px = pixels();
    if (!px) return nullptr;
    auto state = std::make_shared<State>();
    state->pixels = px;
    std::call_once(state->once, [] {});
    state->done = true;
    Header h = header_;
    h.bitsPerComponent = 8;
    return std::make_shared<const Image>(h, scale, std::move(state));
}

}  // namespace pellix::platform
