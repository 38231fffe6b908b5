#include "platform/qt/AviClip.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "platform/fs/FileIo.h"
#include "platform/text/ByteReader.h"

namespace platform {

namespace {

constexpr uint32_t FourCC(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr uint32_t kRiff = FourCC("RIFF");
constexpr uint32_t kAvi = FourCC("AVI ");
constexpr uint32_t kList = FourCC("LIST");
constexpr uint32_t kHdrl = FourCC("hdrl");
constexpr uint32_t kStrl = FourCC("strl");
constexpr uint32_t kMovi = FourCC("movi");
constexpr uint32_t kRec = FourCC("rec ");
constexpr uint32_t kAvih = FourCC("avih");
constexpr uint32_t kStrh = FourCC("strh");
constexpr uint32_t kStrf = FourCC("strf");
constexpr uint32_t kVids = FourCC("vids");

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kOpaqueBlack = 0xFF000000u;
// A frame shorter than a millisecond or longer than ten seconds is a broken header.
constexpr uint32_t kMinUs = 1000;
constexpr uint32_t kMaxUs = 10000000;
constexpr uint32_t kDefaultUs = 100000;

using platform::Le16At;
using platform::Le32At;

}  // namespace

void AviClip::Clear() {
    bytes_.clear();
    bytes_.shrink_to_fit();
    frames_.clear();
    frames_.shrink_to_fit();
    canvas_.clear();
    canvas_.shrink_to_fit();
    std::fill(std::begin(palette_), std::end(palette_), kOpaqueBlack);
    format_ = Format::None;
    width_ = height_ = 0;
    topDown_ = false;
    hasAlpha_ = false;
    usPerFrame_ = mainUsPerFrame_ = 0;
    streamCount_ = 0;
    videoStream_ = -1;
    currentIsVideo_ = false;
    haveFormat_ = false;
    lastDecoded_ = SIZE_MAX;
    chunksSeen_ = 0;
    error_.clear();
}

bool AviClip::Fail(const char* why) {
    Clear();
    error_ = why;
    return false;
}

bool AviClip::LoadFile(const std::string& path) {
    Clear();
    std::vector<uint8_t> bytes;
    // One byte more than a clip may have tells a file that is too large.
    if (ReadWholeFile(path, kMaxFileBytes + 1, bytes, true).number) return Fail("cannot open the file");
    return Load(bytes);
}

bool AviClip::Load(const uint8_t* data, size_t size) {
    Clear();
    if (!data || size < 12) return Fail("too short for a RIFF file");
    if (size > kMaxFileBytes) return Fail("file too large");
    const std::span<const uint8_t> file(data, size);
    if (Le32At(file, 0) != kRiff || Le32At(file, 8) != kAvi) return Fail("not a RIFF AVI file");
    const uint32_t riffSize = Le32At(file, 4);
    if (riffSize < 4 || riffSize > size - 8) return Fail("RIFF size runs past the end of the file");
    bytes_.assign(data, data + 8 + size_t(riffSize));
    if (!WalkRiff(12, bytes_.size(), 0, kAvi)) return false;
    if (!haveFormat_) return Fail("no video stream");
    if (frames_.empty()) return Fail("no frames");
    usPerFrame_ = usPerFrame_ ? usPerFrame_ : mainUsPerFrame_;
    usPerFrame_ = usPerFrame_ ? std::clamp(usPerFrame_, kMinUs, kMaxUs) : kDefaultUs;
    canvas_.assign(size_t(width_) * size_t(height_), format_ == Format::Rgb24 ? kOpaqueBlack : palette_[0]);
    if (!DecodeFrame(0)) return Fail("the first frame cannot be decoded");
    return true;
}

bool AviClip::WalkRiff(size_t begin, size_t end, int depth, uint32_t listType) {
    const bool inMovi = listType == kMovi || listType == kRec;
    size_t pos = begin;
    while (end - pos >= 8) {
        const uint32_t id = Le32At(bytes_, pos);
        const size_t size = Le32At(bytes_, pos + 4);
        const size_t body = pos + 8;
        if (size > end - body) return Fail("chunk runs past its parent");
        if (++chunksSeen_ > kMaxFrames * 2 + 4096) return Fail("too many chunks");
        if (id == kList) {
            if (size < 4) return Fail("LIST without a type");
            if (depth + 1 > kMaxListDepth) return Fail("lists nested too deep");
            const uint32_t type = Le32At(bytes_, body);
            if (type == kMovi && (videoStream_ < 0 || !haveFormat_)) return Fail("frames before the video format");
            if (type == kStrl) {
                ++streamCount_;
                currentIsVideo_ = false;
            }
            if (!WalkRiff(body + 4, body + size, depth + 1, type)) return false;
            currentIsVideo_ = false;
        } else if (id == kAvih && listType == kHdrl) {
            if (size >= 4) mainUsPerFrame_ = Le32At(bytes_, body);
        } else if (id == kStrh && listType == kStrl) {
            if (!ReadStreamHeader(body, size)) return false;
        } else if (id == kStrf && listType == kStrl && currentIsVideo_ && !haveFormat_) {
            if (!ReadStreamFormat(body, size)) return false;
        } else if (inMovi && videoStream_ >= 0) {
            // "00dc" / "00db": two digits of the stream number and the frame's kind.
            const uint8_t* c = &bytes_[pos];
            const bool ours = c[0] == '0' + videoStream_ / 10 && c[1] == '0' + videoStream_ % 10;
            const bool frame = (c[2] == 'd' && (c[3] == 'b' || c[3] == 'c'));
            if (ours && frame) {
                if (frames_.size() >= kMaxFrames) return Fail("too many frames");
                frames_.push_back({body, size});
            }
        }
        // Chunks are padded to an even length; a missing pad byte at the very end is harmless.
        const size_t next = body + size + (size & 1);
        if (next > end) break;
        pos = next;
    }
    return true;
}

bool AviClip::ReadStreamHeader(size_t at, size_t size) {
    if (size < 28) return Fail("stream header too short");
    if (Le32At(bytes_, at) != kVids || videoStream_ >= 0) return true;
    if (streamCount_ < 1 || streamCount_ > 100) return Fail("stream number out of range");
    videoStream_ = streamCount_ - 1;
    currentIsVideo_ = true;
    const uint32_t scale = Le32At(bytes_, at + 20);
    const uint32_t rate = Le32At(bytes_, at + 24);
    if (scale && rate) {
        const uint64_t us = uint64_t(scale) * 1000000u / rate;
        usPerFrame_ = uint32_t(std::min<uint64_t>(std::max<uint64_t>(us, 1), kMaxUs));
    }
    return true;
}

bool AviClip::ReadStreamFormat(size_t at, size_t size) {
    if (size < 40) return Fail("video format too short");
    const uint8_t* p = &bytes_[at];
    const uint32_t headerSize = Le32At(bytes_, at);
    if (headerSize < 40 || headerSize > size) return Fail("bad bitmap header size");
    const auto w = static_cast<int32_t>(Le32At(bytes_, at + 4));
    const auto h = static_cast<int32_t>(Le32At(bytes_, at + 8));
    const uint16_t bits = Le16At(bytes_, at + 14);
    const uint32_t compression = Le32At(bytes_, at + 16);
    const uint32_t colours = Le32At(bytes_, at + 32);
    if (w <= 0 || w > kMaxSide || h == 0 || h < -kMaxSide || h > kMaxSide) return Fail("frame size out of range");
    const int32_t absH = h < 0 ? -h : h;
    if (size_t(w) * size_t(absH) > kMaxPixels) return Fail("frame too large");
    if (compression == kBiRgb && bits == 8) {
        format_ = Format::Rgb8;
    } else if (compression == kBiRgb && bits == 24) {
        format_ = Format::Rgb24;
    } else if (compression == kBiRle8 && bits == 8 && h > 0) {
        format_ = Format::Rle8;
    } else {
        return Fail("unsupported frame format");
    }
    if (bits == 8) {
        if (colours > 256) return Fail("palette too large");
        const size_t wanted = colours ? colours : 256;
        const size_t there = std::min(wanted, (size - headerSize) / 4);
        // The fourth byte of an entry is reserved and normally zero; a palette
        // that sets it anywhere carries each colour's alpha there.
        bool alpha = false;
        for (size_t i = 0; i < there; ++i) alpha = alpha || p[headerSize + i * 4 + 3] != 0;
        for (size_t i = 0; i < there; ++i) {
            const uint8_t* e = p + headerSize + i * 4;
            const uint32_t a = alpha ? uint32_t(e[3]) << 24 : kOpaqueBlack;
            palette_[i] = a | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
        }
        hasAlpha_ = alpha;
    }
    width_ = w;
    height_ = absH;
    topDown_ = h < 0;
    haveFormat_ = true;
    return true;
}

uint32_t AviClip::Pixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || canvas_.empty()) return 0;
    return canvas_[size_t(y) * size_t(width_) + size_t(x)];
}

bool AviClip::DecodeFrame(size_t index) {
    if (!IsOpen()) return false;
    if (index >= frames_.size()) return false;
    if (index == lastDecoded_) return true;
    // RLE frames only paint what changed: reach this one from the start.
    if (format_ == Format::Rle8 && (lastDecoded_ == SIZE_MAX || index != lastDecoded_ + 1)) {
        std::fill(canvas_.begin(), canvas_.end(), palette_[0]);
        for (size_t i = 0; i < index; ++i) ApplyFrame(frames_[i]);
    }
    lastDecoded_ = index;
    return ApplyFrame(frames_[index]);
}

bool AviClip::ApplyFrame(const Span& span) {
    // An empty chunk repeats the frame before it.
    if (span.size == 0) return true;
    const uint8_t* p = &bytes_[span.offset];
    return format_ == Format::Rle8 ? DecodeRle8(p, span.size) : DecodeRgb(p, span.size);
}

bool AviClip::DecodeRgb(const uint8_t* p, size_t n) {
    const size_t bits = format_ == Format::Rgb24 ? 24 : 8;
    const size_t stride = (size_t(width_) * bits + 31) / 32 * 4;
    if (n / stride < size_t(height_)) return false;
    for (int32_t row = 0; row < height_; ++row) {
        const uint8_t* src = p + size_t(row) * stride;
        const int32_t y = topDown_ ? row : height_ - 1 - row;
        uint32_t* dst = &canvas_[size_t(y) * size_t(width_)];
        if (bits == 8) {
            for (int32_t x = 0; x < width_; ++x) dst[x] = palette_[src[x]];
        } else {
            for (int32_t x = 0; x < width_; ++x, src += 3)
                dst[x] = kOpaqueBlack | uint32_t(src[2]) << 16 | uint32_t(src[1]) << 8 | src[0];
        }
    }
    return true;
}

bool AviClip::DecodeRle8(const uint8_t* p, size_t n) {
    // Lines run bottom-up. Positions saturate at the frame's edges, and nothing
    // is written outside it.
    int32_t x = 0;
    int32_t y = 0;
    auto put = [&](uint8_t index) {
        if (x < width_ && y < height_) canvas_[size_t(height_ - 1 - y) * size_t(width_) + size_t(x)] = palette_[index];
        if (x < width_) ++x;
    };
    size_t i = 0;
    while (n - i >= 2) {
        if (y >= height_) return true;
        const uint8_t count = p[i];
        const uint8_t code = p[i + 1];
        i += 2;
        if (count) {
            for (int k = 0; k < count && x < width_; ++k) put(code);
            continue;
        }
        switch (code) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of frame
                return true;
            case 2:  // move right and up
                if (n - i < 2) return false;
                x = std::min<int32_t>(x + p[i], width_);
                y = std::min<int32_t>(y + p[i + 1], height_);
                i += 2;
                break;
            default:  // literal pixels, padded to a 16-bit boundary
                if (n - i < code) return false;
                for (int k = 0; k < code; ++k) put(p[i + k]);
                i += code + (code & 1);
                if (i > n) i = n;
                break;
        }
    }
    return true;
}

}  // namespace platform
