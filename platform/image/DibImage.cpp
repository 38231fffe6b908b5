#include "platform/image/DibImage.h"

#include <algorithm>
#include <bit>

#include "platform/text/ByteReader.h"

namespace platform {

namespace {

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

struct Header {
    uint32_t size = 0;
    int64_t width = 0, height = 0;  // height as stored: negative is top-down
    int bpp = 0;
    uint32_t compression = kRgb;
    uint32_t colourCount = 0;  // entries the table holds in the file
    std::size_t entrySize = 4;
    uint32_t masks[4] = {};    // red, green, blue, alpha
    std::size_t tableAt = 0;   // where the colour table starts
};

std::optional<Header> ReadHeader(std::span<const uint8_t> dib) {
    ByteReader r(dib);
    Header h;
    h.size = r.Le32().value_or(0);
    if (h.size == 12) {
        const auto w = r.Le16(), ht = r.Le16();
        r.Skip(2);
        const auto bpp = r.Le16();
        if (!bpp) return std::nullopt;
        h.width = *w;
        h.height = *ht;
        h.bpp = *bpp;
        h.entrySize = 3;
    } else if (h.size == 40 || h.size == 52 || h.size == 56 || h.size == 64 || h.size == 108 || h.size == 124) {
        const auto w = r.Le32(), ht = r.Le32();
        r.Skip(2);
        const auto bpp = r.Le16();
        const auto compression = r.Le32();
        r.Skip(12);
        const auto used = r.Le32();
        if (!used || !r.At(h.size).Skip(0)) return std::nullopt;
        h.width = static_cast<int32_t>(*w);
        h.height = static_cast<int32_t>(*ht);
        h.bpp = *bpp;
        h.compression = *compression;
        h.colourCount = *used;
        // Older OS/2 headers use 3 for Huffman coding, not bit fields.
        if (h.size == 64 && h.compression != kRgb && h.compression != kRle8 && h.compression != kRle4)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    h.tableAt = h.size;
    if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
        // The masks follow a plain info header, or are part of a larger one.
        const int count = h.compression == kAlphaBitFields || h.size >= 56 ? 4 : 3;
        ByteReader m = ByteReader(dib).At(40);
        for (int i = 0; i < count; ++i) {
            const auto v = m.Le32();
            if (!v) return std::nullopt;
            h.masks[i] = *v;
        }
        if (h.size == 40) h.tableAt += 4 * static_cast<std::size_t>(count);
    }
    return h;
}

// One channel of a bit-field pixel scaled to eight bits; -1 when there is no mask.
int Channel(uint32_t pixel, uint32_t mask) {
    if (!mask) return -1;
    const int shift = std::countr_zero(mask);
    const uint64_t max = mask >> shift;
    const uint64_t v = (pixel & mask) >> shift;
    return max == 255 ? static_cast<int>(v) : static_cast<int>(v * 255 / max);
}

// RLE4 and RLE8: runs of one index and literal stretches, with line ends,
// jumps and an end mark. Skipped pixels keep index 0.
std::optional<std::vector<uint8_t>> DecodeRle(std::span<const uint8_t> bits, int width, int height, bool four) {
    std::vector<uint8_t> out(static_cast<std::size_t>(width) * height, 0);
    ByteReader r(bits);
    int64_t x = 0, y = 0;
    auto put = [&](uint8_t index) {
        if (x < width && y < height) out[static_cast<std::size_t>(y) * width + x] = index;
        ++x;
    };
    while (y < height) {
        const auto count = r.U8(), value = r.U8();
        if (!value) break;  // the data ends without its end mark: keep what came
        if (*count > 0) {
            // Only what lands inside the row is painted: runs past its end
            // cost nothing, however many a hostile image holds.
            const int inside = static_cast<int>(std::clamp<int64_t>(width - x, 0, *count));
            for (int i = 0; i < inside; ++i) put(four ? (i % 2 ? *value & 15 : *value >> 4) : *value);
            x += *count - inside;
        } else if (*value == 0) {
            x = 0;
            ++y;
        } else if (*value == 1) {
            break;
        } else if (*value == 2) {
            const auto dx = r.U8(), dy = r.U8();
            if (!dy) break;
            x += *dx;
            y += *dy;
        } else {
            const int n = *value;
            const std::size_t bytes = four ? (n + 1) / 2 : n;
            const auto run = r.Bytes(bytes);
            if (!run) break;
            for (int i = 0; i < n; ++i) put(four ? (i % 2 ? (*run)[i / 2] & 15 : (*run)[i / 2] >> 4) : (*run)[i]);
            if (bytes % 2) r.Skip(1);
        }
    }
    return out;
}

// The depths each compression allows; run lengths only bottom-up.
bool DepthFits(int bpp, uint32_t compression, bool topDown) {
    switch (compression) {
    case kRgb: return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
    case kRle8: return bpp == 8 && !topDown;
    case kRle4: return bpp == 4 && !topDown;
    case kBitFields:
    case kAlphaBitFields: return bpp == 16 || bpp == 32;
    default: return false;
    }
}

}  // namespace

std::optional<DibHeaderInfo> DibInfo(std::span<const uint8_t> dib) {
    const auto h = ReadHeader(dib);
    if (!h) return std::nullopt;
    return DibHeaderInfo{h->width, h->height < 0 ? -h->height : h->height, h->bpp};
}

std::vector<IconFileEntry> IconFileDirectory(std::span<const uint8_t> file) {
    std::vector<IconFileEntry> entries;
    const int count = Le16At(file, 4);
    ByteReader r = ByteReader(file).At(6);
    for (int i = 0; i < count; ++i) {
        // Width, height, colours, a reserved byte, two fields of the kind's own, size, offset.
        const auto w = r.U8(), h = r.U8();
        r.Skip(6);
        const auto size = r.Le32(), offset = r.Le32();
        if (!offset) break;
        entries.push_back({*w ? *w : 256u, *h ? *h : 256u, *size, *offset});
    }
    return entries;
}

std::optional<RgbaImage> DecodeDib(std::span<const uint8_t> dib, DibForm form, std::optional<uint32_t> pixelOffset) {
    auto header = ReadHeader(dib);
    if (!header) return std::nullopt;
    Header& h = *header;
    const bool icon = form == DibForm::Icon;
    const bool topDown = h.height < 0;
    if (icon && topDown) return std::nullopt;
    const int64_t rows = icon ? h.height / 2 : (topDown ? -h.height : h.height);
    if (h.width < 1 || rows < 1 || h.width > kMaxDibSide || rows > kMaxDibSide || h.width * rows > kMaxDibPixels)
        return std::nullopt;
    const int width = static_cast<int>(h.width), height = static_cast<int>(rows);

    if (!DepthFits(h.bpp, h.compression, topDown)) return std::nullopt;
    const bool rle = h.compression == kRle8 || h.compression == kRle4;

    // The colour table: the stated number of entries, or all the depth
    // allows; an index past the table is black.
    const uint64_t fullTable = h.bpp <= 8 ? 1u << h.bpp : 0;
    const uint64_t entries = h.bpp <= 8 ? (h.colourCount ? std::min<uint64_t>(h.colourCount, fullTable) : fullTable)
                                        : h.colourCount;
    std::vector<uint8_t> palette(1024, 0);  // R, G, B, A per entry
    ByteReader table = ByteReader(dib).At(h.tableAt);
    for (uint64_t i = 0; i < std::min<uint64_t>(entries, fullTable); ++i) {
        const auto e = table.Bytes(h.entrySize);
        if (!e) return std::nullopt;
        palette[i * 4] = (*e)[2];
        palette[i * 4 + 1] = (*e)[1];
        palette[i * 4 + 2] = (*e)[0];
    }
    const uint64_t bitsAt = pixelOffset ? *pixelOffset : h.tableAt + entries * h.entrySize;
    if (bitsAt > dib.size()) return std::nullopt;
    const std::span<const uint8_t> bits = dib.subspan(static_cast<std::size_t>(bitsAt));

    const std::size_t stride = ((static_cast<std::size_t>(width) * h.bpp + 31) / 32) * 4;
    std::optional<std::vector<uint8_t>> indices;
    if (rle) {
        indices = DecodeRle(bits, width, height, h.compression == kRle4);
    } else if (bits.size() / stride < static_cast<std::size_t>(height)) {
        return std::nullopt;
    }

    if (h.compression == kRgb && h.bpp == 16) {
        h.masks[0] = 0x7C00;
        h.masks[1] = 0x03E0;
        h.masks[2] = 0x001F;
    }
    const bool fields = h.bpp == 16 || h.compression == kBitFields || h.compression == kAlphaBitFields;
    const bool alphaOfPixels = (h.bpp == 32 && h.compression == kRgb && icon) || (fields && h.masks[3]);

    RgbaImage image{width, height, std::vector<uint8_t>(static_cast<std::size_t>(width) * height * 4)};
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y) {
        const int stored = topDown ? y : height - 1 - y;  // the row as it lies in the bits
        const uint8_t* row = rle ? nullptr : bits.data() + static_cast<std::size_t>(stored) * stride;
        uint8_t* out = image.pixels.data() + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x, out += 4) {
            const uint8_t* colour = nullptr;
            if (rle) {
                colour = &palette[(*indices)[static_cast<std::size_t>(stored) * width + x] * 4u];
            } else if (h.bpp <= 8) {
                const std::size_t bit = static_cast<std::size_t>(x) * h.bpp;
                const unsigned index = (row[bit / 8] >> (8 - h.bpp - bit % 8)) & ((1u << h.bpp) - 1);
                colour = &palette[index * 4];
            }
            if (colour) {
                std::copy(colour, colour + 3, out);
                out[3] = 255;
            } else if (fields) {
                const uint8_t* p = row + static_cast<std::size_t>(x) * (h.bpp / 8);
                const uint32_t v = h.bpp == 16 ? Le16At({p, 2}, 0) : Le32At({p, 4}, 0);
                for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>(std::max(0, Channel(v, h.masks[c])));
                out[3] = h.masks[3] ? static_cast<uint8_t>(Channel(v, h.masks[3])) : 255;
            } else {  // 24 and 32 bits, blue first
                const uint8_t* p = row + static_cast<std::size_t>(x) * (h.bpp / 8);
                out[0] = p[2];
                out[1] = p[1];
                out[2] = p[0];
                out[3] = alphaOfPixels ? p[3] : 255;
            }
            anyAlpha |= alphaOfPixels && out[3] != 0;
        }
    }
    if (!icon || anyAlpha) return image;

    // The AND mask: a set bit is a transparent pixel. An image whose pixels
    // carry no alpha at all is drawn through its mask, as the system does.
    if (alphaOfPixels)
        for (std::size_t i = 3; i < image.pixels.size(); i += 4) image.pixels[i] = 255;
    const std::size_t maskStride = ((static_cast<std::size_t>(width) + 31) / 32) * 4;
    const std::size_t xorBytes = rle ? 0 : stride * height;
    if (rle || bits.size() - xorBytes < maskStride * height) return image;  // no mask: opaque
    const uint8_t* mask = bits.data() + xorBytes;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = mask + static_cast<std::size_t>(height - 1 - y) * maskStride;
        for (int x = 0; x < width; ++x)
            if (row[x / 8] & (0x80 >> (x % 8))) image.pixels[(static_cast<std::size_t>(y) * width + x) * 4 + 3] = 0;
    }
    return image;
}

}  // namespace platform
