#include "platform/image/PngImage.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t Be32(std::span<const uint8_t> b, std::size_t at) {
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

void Append(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void Flush(png_structp) {}

}  // namespace

std::vector<uint8_t> EncodePng(const RgbaImage& image) {
    if (image.width < 1 || image.height < 1 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 4)
        return {};
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return {};
    }
    // libpng reports its errors by jumping back here; only its own frames
    // lie in between.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, Append, Flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t stride = static_cast<std::size_t>(image.width) * 4;
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, const_cast<png_bytep>(image.pixels.data() + stride * static_cast<std::size_t>(y)));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

bool IsPng(std::span<const uint8_t> bytes) {
    return bytes.size() >= 8 && std::equal(kSignature, kSignature + 8, bytes.begin());
}

std::optional<std::pair<uint32_t, uint32_t>> PngSize(std::span<const uint8_t> png) {
    // Signature, the header chunk's length and name, then width and height.
    if (png.size() < 24 || !IsPng(png) || std::memcmp(png.data() + 12, "IHDR", 4) != 0) return std::nullopt;
    return std::pair{Be32(png, 16), Be32(png, 20)};
}

}  // namespace platform
