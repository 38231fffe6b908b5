#pragma once
// A small AVI clip reader for the animation control: the first video stream of
// a RIFF AVI file, frames stored uncompressed (8-bit with a palette, or 24-bit)
// or RLE8, as the animation common control plays them. Standard C++ only, so a
// fuzz target can drive it.
//
// Every size and offset in the file is checked against the bytes actually
// there; frame count, frame size and nesting are capped, and the decoders never
// write outside the frame.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class AviClip {
public:
    static constexpr size_t kMaxFileBytes = 32u << 20;
    static constexpr int32_t kMaxSide = 2048;
    static constexpr size_t kMaxPixels = 1u << 22;  // 16 MiB of 32-bit pixels
    static constexpr size_t kMaxFrames = 20000;
    static constexpr int kMaxListDepth = 4;

    enum class Format { None, Rgb8, Rgb24, Rle8 };

    // Parses the clip; false (and an empty clip) when it cannot be played.
    // The first frame must decode for the clip to count as playable.
    bool Load(const uint8_t* data, size_t size);
    bool Load(const std::vector<uint8_t>& bytes) { return Load(bytes.data(), bytes.size()); }
    bool LoadFile(const std::string& path);
    void Clear();

    bool IsOpen() const { return format_ != Format::None; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    size_t FrameCount() const { return frames_.size(); }
    Format FrameFormat() const { return format_; }
    // Time per frame from the stream's rate (or the main header), at least 1 ms.
    uint32_t MicroSecPerFrame() const { return usPerFrame_; }
    const std::string& Error() const { return error_; }

    // Decodes frame `index` into the canvas (0xAARRGGBB, top row first,
    // Width() * Height() values). RLE frames paint over the frame before them,
    // so frames are replayed from the start when played out of order. False
    // when the frame's data is damaged; the canvas then holds what could be
    // drawn.
    bool DecodeFrame(size_t index);
    const std::vector<uint32_t>& Canvas() const { return canvas_; }
    uint32_t Pixel(int32_t x, int32_t y) const;
    // An 8-bit clip whose palette gives each colour an alpha (in the byte the
    // format reserves): the canvas then carries that alpha instead of 0xFF.
    bool HasAlpha() const { return hasAlpha_; }

private:
    struct Span {
        size_t offset = 0;
        size_t size = 0;
    };
    bool Fail(const char* why);
    bool WalkRiff(size_t begin, size_t end, int depth, uint32_t listType);
    bool ReadStreamHeader(size_t at, size_t size);
    bool ReadStreamFormat(size_t at, size_t size);
    bool ApplyFrame(const Span& span);
    bool DecodeRgb(const uint8_t* p, size_t n);
    bool DecodeRle8(const uint8_t* p, size_t n);

    std::vector<uint8_t> bytes_;
    std::vector<Span> frames_;
    std::vector<uint32_t> canvas_;
    uint32_t palette_[256] = {};
    Format format_ = Format::None;
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool topDown_ = false;
    bool hasAlpha_ = false;
    uint32_t usPerFrame_ = 0;
    uint32_t mainUsPerFrame_ = 0;
    // Stream being parsed (strl lists in order) and the video stream chosen.
    int streamCount_ = 0;
    int videoStream_ = -1;
    bool currentIsVideo_ = false;
    bool haveFormat_ = false;
    size_t lastDecoded_ = SIZE_MAX;
    size_t chunksSeen_ = 0;
    std::string error_;
};

}  // namespace platform
