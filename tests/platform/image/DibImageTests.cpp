#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <tuple>
#include <vector>

#include "platform/image/DibImage.h"
#include "platform/image/PngImage.h"

namespace {

using Bytes = std::vector<uint8_t>;
using platform::DecodeDib;
using platform::DibForm;

void P16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void P32(Bytes& b, uint32_t v) { P16(b, v & 0xFFFF), P16(b, v >> 16); }

// An info header (40 bytes) and what follows it.
Bytes Info(int32_t w, int32_t h, uint16_t bpp, uint32_t compression = 0, uint32_t used = 0,
           std::initializer_list<uint8_t> rest = {}) {
    Bytes b;
    P32(b, 40), P32(b, uint32_t(w)), P32(b, uint32_t(h)), P16(b, 1), P16(b, bpp), P32(b, compression);
    for (uint32_t v : {0u, 0u, 0u, used, 0u}) P32(b, v);
    b.insert(b.end(), rest);
    return b;
}
Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Bytes Le32s(std::initializer_list<uint32_t> vs) {
    Bytes b;
    for (uint32_t v : vs) P32(b, v);
    return b;
}
// The pixels as 0xRRGGBBAA, top row first.
std::vector<uint32_t> Pixels(const std::optional<platform::RgbaImage>& im) {
    std::vector<uint32_t> out;
    if (!im) return out;
    for (size_t i = 0; i < im->pixels.size(); i += 4)
        out.push_back(uint32_t(im->pixels[i]) << 24 | im->pixels[i + 1] << 16 | im->pixels[i + 2] << 8 | im->pixels[i + 3]);
    return out;
}
using Px = std::vector<uint32_t>;

TEST(DibImage, EveryDepthAndRowOrder) {
    // 1 bit, bottom-up: the first stored row is the bottom one; colours from the table (blue, green, red, 0).
    const Bytes one = Info(3, 2, 1, 0, 2) + Le32s({0x0000FF, 0xFF0000}) + Bytes{0xA0, 0, 0, 0, 0x40, 0, 0, 0};
    EXPECT_EQ(Pixels(DecodeDib(one, DibForm::Bitmap)), (Px{0x0000FFFF, 0xFF0000FF, 0x0000FFFF,
                                                           0xFF0000FF, 0x0000FFFF, 0xFF0000FF}));
    // 4 bits through a table of two: an index past it is black.
    const Bytes four = Info(2, 1, 4, 0, 2) + Le32s({0x112233, 0x445566}) + Bytes{0x1F, 0, 0, 0};
    EXPECT_EQ(Pixels(DecodeDib(four, DibForm::Bitmap)), (Px{0x445566FF, 0x000000FF}));
    // 24 bits top-down, blue first, rows padded to four bytes.
    const Bytes rgb = Info(1, -2, 24) + Bytes{1, 2, 3, 0, 4, 5, 6, 0};
    EXPECT_EQ(Pixels(DecodeDib(rgb, DibForm::Bitmap)), (Px{0x030201FF, 0x060504FF}));
    // 16 bits: 5-5-5 by default, 5-6-5 through masks; five bits scale to 0..255.
    const Bytes x555 = Info(2, 1, 16) + Bytes{0xFF, 0x7F, 0x01, 0x00};
    EXPECT_EQ(Pixels(DecodeDib(x555, DibForm::Bitmap)), (Px{0xFFFFFFFF, 0x000008FF}));
    const Bytes x565 = Info(2, 1, 16, 3) + Le32s({0xF800, 0x07E0, 0x001F}) + Bytes{0x00, 0xF8, 0xE0, 0x07};
    EXPECT_EQ(Pixels(DecodeDib(x565, DibForm::Bitmap)), (Px{0xFF0000FF, 0x00FF00FF}));
    // 32 bits: the fourth byte is no alpha in a plain bitmap, but is through an alpha mask.
    const Bytes x32 = Info(1, 1, 32) + Bytes{1, 2, 3, 0};
    EXPECT_EQ(Pixels(DecodeDib(x32, DibForm::Bitmap)), (Px{0x030201FF}));
    const Bytes a32 = Info(1, 1, 32, 6) + Le32s({0xFF0000, 0xFF00, 0xFF, 0xFF000000}) + Bytes{1, 2, 3, 0x80};
    EXPECT_EQ(Pixels(DecodeDib(a32, DibForm::Bitmap)), (Px{0x03020180}));
    // The core header of old modules: 16-bit sizes, three-byte colours.
    Bytes core;
    P32(core, 12), P16(core, 2), P16(core, 1), P16(core, 1), P16(core, 8);
    core = core + Bytes(256 * 3, 0);
    core[12 + 3 * 7] = 0x11, core[12 + 3 * 7 + 2] = 0x22;
    core = core + Bytes{7, 0, 0, 0};
    EXPECT_EQ(Pixels(DecodeDib(core, DibForm::Bitmap)), (Px{0x220011FF, 0x000000FF}));
    // Where a .bmp file says its bits start.
    const Bytes gap = Info(1, 1, 24) + Bytes{9, 9, 9, 9, 1, 2, 3, 0};
    EXPECT_EQ(Pixels(DecodeDib(gap, DibForm::Bitmap, 44)), (Px{0x030201FF}));
}

TEST(DibImage, RunLengthsWithJumpsLineEndsAndOddStretches) {
    const Bytes table = Le32s({0x000000, 0x0000FF, 0x00FF00, 0xFF0000});
    // RLE8, 4 x 3, bottom row first: a run of 2 and an odd stretch of 3 that
    // passes the row's end; a line end; a jump right 2 and up 1 over untouched
    // pixels (index 0); a run of 1; the end.
    const Bytes rle8 = Info(4, 3, 8, 1, 4) + table +
                       Bytes{2, 1, 0, 3, 2, 3, 1, 0, 0, 0, 0, 2, 2, 1, 1, 3, 0, 1};
    const uint32_t k = 0x000000FF, b = 0x0000FFFF, g = 0x00FF00FF, r = 0xFF0000FF;
    EXPECT_EQ(Pixels(DecodeDib(rle8, DibForm::Bitmap)), (Px{k, k, r, k, k, k, k, k, b, b, g, r}));
    // RLE4: a run alternates its two nibbles; a stretch of 3 nibbles takes two bytes, padded.
    const Bytes rle4 = Info(5, 1, 4, 2, 4) + table + Bytes{3, 0x12, 0, 3, 0x31, 0x20, 0, 1};
    EXPECT_EQ(Pixels(DecodeDib(rle4, DibForm::Bitmap)), (Px{b, g, b, r, b}));
    // Runs past the row's end paint nothing, however many there are.
    Bytes runs = Info(2, 1, 8, 1, 4) + table;
    for (int i = 0; i < 1000000; ++i) runs.insert(runs.end(), {255, 2});
    EXPECT_EQ(Pixels(DecodeDib(runs, DibForm::Bitmap)), (Px{g, g}));
    // Data that stops without its end mark keeps what came.
    const Bytes cut = Info(2, 1, 8, 1, 4) + table + Bytes{1, 3};
    EXPECT_EQ(Pixels(DecodeDib(cut, DibForm::Bitmap)), (Px{r, k}));
}

TEST(DibImage, IconTransparencyFromAlphaOrMask) {
    // 2 x 1 icons: the height counts both masks; the AND mask row sets the
    // second pixel transparent.
    const Bytes mask{0x40, 0, 0, 0};
    const Bytes alpha = Info(2, 2, 32) + Bytes{1, 2, 3, 0x80, 4, 5, 6, 0xFF} + mask;
    EXPECT_EQ(Pixels(DecodeDib(alpha, DibForm::Icon)), (Px{0x03020180, 0x060504FF})) << "alpha wins over the mask";
    const Bytes noAlpha = Info(2, 2, 32) + Bytes{1, 2, 3, 0, 4, 5, 6, 0} + mask;
    EXPECT_EQ(Pixels(DecodeDib(noAlpha, DibForm::Icon)), (Px{0x030201FF, 0x06050400})) << "no alpha: the mask";
    const Bytes paletted = Info(2, 2, 4, 0, 2) + Le32s({0, 0xFFFFFF}) + Bytes{0x11, 0, 0, 0} + mask;
    EXPECT_EQ(Pixels(DecodeDib(paletted, DibForm::Icon)), (Px{0xFFFFFFFF, 0xFFFFFF00}));
    const Bytes maskless = Info(2, 2, 4, 0, 2) + Le32s({0, 0xFFFFFF}) + Bytes{0x11, 0, 0, 0};
    EXPECT_EQ(Pixels(DecodeDib(maskless, DibForm::Icon)), (Px{0xFFFFFFFF, 0xFFFFFFFF})) << "no mask: opaque";
}

TEST(DibImage, HostileHeadersAreRefused) {
    const Bytes whole = Info(1, 1, 24);
    const struct { const char* what; Bytes dib; DibForm form; std::optional<uint32_t> at; } rows[] = {
        {"nothing", {}, DibForm::Bitmap, {}},
        {"an unknown header size", Bytes{41, 0, 0, 0} + Bytes(60, 0), DibForm::Bitmap, {}},
        {"a header cut short", Bytes(whole.begin(), whole.begin() + 30), DibForm::Bitmap, {}},
        {"no width", Info(0, 1, 24) + Bytes(4, 0), DibForm::Bitmap, {}},
        {"too wide", Info(16385, 1, 1) + Bytes(8, 0) + Bytes(2052, 0), DibForm::Bitmap, {}},
        {"too many pixels", Info(4097, 4097, 8, 1, 1) + Bytes{0, 0, 0, 0, 0, 1}, DibForm::Bitmap, {}},
        {"two bits per pixel", Info(1, 1, 2) + Bytes(20, 0), DibForm::Bitmap, {}},
        {"RLE8 at four bits", Info(1, 1, 4, 1) + Bytes(70, 0), DibForm::Bitmap, {}},
        {"RLE top-down", Info(1, -1, 8, 1) + Bytes(1030, 0), DibForm::Bitmap, {}},
        {"JPEG inside", Info(1, 1, 0, 4) + Bytes(20, 0), DibForm::Bitmap, {}},
        {"masks cut short", Info(1, 1, 16, 3) + Bytes{0, 0xF8}, DibForm::Bitmap, {}},
        {"bits cut short", Info(2, 2, 24) + Bytes(15, 0), DibForm::Bitmap, {}},
        {"a table of 4 billion colours", Info(1, 1, 24, 0, 0xFFFFFFFF) + Bytes(4, 0), DibForm::Bitmap, {}},
        {"bits past the end", Info(1, 1, 24) + Bytes(4, 0), DibForm::Bitmap, 45},
        {"a top-down icon", Info(1, -2, 24) + Bytes(8, 0), DibForm::Icon, {}},
        {"an icon of half a row", Info(1, 1, 24) + Bytes(8, 0), DibForm::Icon, {}},
    };
    for (const auto& row : rows) EXPECT_FALSE(DecodeDib(row.dib, row.form, row.at)) << row.what;
}

TEST(IconFile, DirectoryAsFarAsTheBytesGo) {
    Bytes file{0, 0, 1, 0, 3, 0};  // three entries claimed, two and a half there
    file = file + Bytes{16, 0, 0, 0, 1, 0, 32, 0} + Le32s({100, 38}) + Bytes{0, 0, 0, 0, 1, 0, 32, 0} +
           Le32s({200, 138}) + Bytes{48, 48, 0, 0};
    const auto entries = platform::IconFileDirectory(file);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(std::tuple(entries[0].width, entries[0].height, entries[0].size, entries[0].offset),
              std::tuple(16u, 256u, 100u, 38u));
    EXPECT_EQ(std::tuple(entries[1].width, entries[1].height, entries[1].size, entries[1].offset),
              std::tuple(256u, 256u, 200u, 138u));
    EXPECT_TRUE(platform::IconFileDirectory(Bytes{0, 0, 1}).empty());
}

TEST(PngImage, WrittenFilesStateTheirSize) {
    const platform::RgbaImage image{3, 2, Bytes(3 * 2 * 4, 0x7F)};
    const Bytes png = platform::EncodePng(image);
    ASSERT_TRUE(platform::IsPng(png));
    EXPECT_EQ(platform::PngSize(png), (std::pair<uint32_t, uint32_t>{3, 2}));
    EXPECT_TRUE(platform::EncodePng({3, 2, Bytes(5)}).empty()) << "pixels that do not fill the size";
    EXPECT_FALSE(platform::PngSize(Bytes(png.begin(), png.begin() + 20)));
}

}  // namespace
