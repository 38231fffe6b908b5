// Device-independent bitmaps decoded into plain RGBA pixels, as the system
// draws them: every header form (core, info, V2 to V5), 1 to 32 bits per
// pixel, colour tables, bit fields, RLE4 and RLE8, bottom-up and top-down,
// and the AND mask of icon and cursor images.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform {

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // R, G, B, A per pixel, top row first
};

// The largest side and pixel count decoded; a header that claims more is
// refused (the pixels of 4096 x 4096 take 64 MB).
inline constexpr int kMaxDibSide = 16384;
inline constexpr int64_t kMaxDibPixels = int64_t{1} << 24;

enum class DibForm {
    Bitmap,  // a bitmap: a 32-bit BI_RGB image is opaque, as the screen shows it
    Icon,    // an icon or cursor image: the height counts both masks; the AND
             // mask gives the transparency, unless 32-bit pixels carry alpha
};

// dib: the header, colour table and bits. pixelOffset: where the bits start
// within dib when the caller knows (a .bmp file's bfOffBits less the file
// header); otherwise they follow the colour table. Empty when the header is
// not one of these, the image is larger than the limits above, or its bits are
// missing.
std::optional<RgbaImage> DecodeDib(std::span<const uint8_t> dib, DibForm form,
                                   std::optional<uint32_t> pixelOffset = std::nullopt);

// What a DIB's header states: its size as drawn (a top-down height made
// positive) and its bits per pixel; empty when there is no header it knows.
struct DibHeaderInfo {
    int64_t width = 0, height = 0;
    int bpp = 0;
};
std::optional<DibHeaderInfo> DibInfo(std::span<const uint8_t> dib);

// The directory of an .ico or .cur file: where each image lies, and its
// size as the directory states it (a 0 there means 256).
struct IconFileEntry {
    uint32_t width = 0, height = 0;
    uint32_t size = 0, offset = 0;
};
// The entries the directory lists, as far as the bytes hold them.
std::vector<IconFileEntry> IconFileDirectory(std::span<const uint8_t> file);

}  // namespace platform
