// Builds small AVI files in memory, well-formed or damaged on purpose.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace avitest {

using Bytes = std::vector<uint8_t>;

inline void Put32(Bytes& b, std::initializer_list<uint32_t> values) {
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

inline Bytes Chunk(const char* tag, const Bytes& body) {
    Bytes b(tag, tag + 4);
    Put32(b, {uint32_t(body.size())});
    Append(b, body);
    if (body.size() % 2) b.push_back(0);
    return b;
}
inline Bytes List(const char* type, const Bytes& body, const char* tag = "LIST") {
    Bytes inner(type, type + 4);
    Append(inner, body);
    return Chunk(tag, inner);
}
inline Bytes Riff(const Bytes& content) { return List("AVI ", content, "RIFF"); }

inline constexpr uint8_t kFrame[12] = {1, 1, 1, 1, 2, 2, 2, 2, 3, 0, 0, 0};
// 4x3, 8-bit, 20 frames a second: bottom row red, middle green, top blue then black.
struct Clip {
    int32_t width = 4, height = 3;
    uint16_t bits = 8;
    uint32_t compression = 0;  // 0 uncompressed, 1 RLE8
    uint32_t colours = 4;
    uint8_t redAlpha = 0;  // the reserved fourth byte of the palette's red
    std::vector<Bytes> frames = {Bytes(kFrame, kFrame + 12)};
    const char* frameTag = "00dc";
};

// The header list: main header, optionally an audio stream, then the video stream.
inline Bytes Headers(const Clip& c, bool audioFirst = false) {
    auto stream = [](const char* type, const Bytes& format) {
        Bytes h(type, type + 4);
        Put32(h, {0, 0, 0, 0, 1, 20, 0, 0, 0, 0, 0, 0, 0});  // scale 1, rate 20
        Bytes strl = Chunk("strh", h);
        Append(strl, Chunk("strf", format));
        return List("strl", strl);
    };
    Bytes hdrl = Chunk("avih", Bytes(56, 0));
    if (audioFirst) Append(hdrl, stream("auds", Bytes(16, 0)));
    Bytes format;  // palette black, red, green, blue, stored B, G, R, 0
    Put32(format, {40, uint32_t(c.width), uint32_t(c.height), 1u | uint32_t(c.bits) << 16, c.compression, 0, 0,
                   0, c.colours, 0, 0x000000, 0xFF0000u | uint32_t(c.redAlpha) << 24, 0x00FF00, 0x0000FF});
    Append(hdrl, stream("vids", format));
    return List("hdrl", hdrl);
}
inline Bytes Movi(const Clip& c) {
    Bytes m;
    for (const Bytes& f : c.frames) Append(m, Chunk(c.frameTag, f));
    return m;
}
inline Bytes Build(const Clip& c) {
    Bytes content = Headers(c);
    Append(content, List("movi", Movi(c)));
    return Riff(content);
}

}  // namespace avitest
