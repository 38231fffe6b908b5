// Builds small AVI files in memory, well-formed or damaged on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace avitest {

using Bytes = std::vector<uint8_t>;

inline void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void Put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void PutTag(Bytes& b, const char* tag) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(tag[i]));
}
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

inline Bytes Chunk(const char* tag, const Bytes& body) {
    Bytes b;
    PutTag(b, tag);
    Put32(b, uint32_t(body.size()));
    Append(b, body);
    if (body.size() % 2) b.push_back(0);
    return b;
}

inline Bytes List(const char* type, const Bytes& body) {
    Bytes inner;
    PutTag(inner, type);
    Append(inner, body);
    return Chunk("LIST", inner);
}

struct Clip {
    int32_t width = 4;
    int32_t height = 3;
    uint16_t bits = 8;
    uint32_t compression = 0;  // 0 uncompressed, 1 RLE8
    uint32_t colours = 4;
    std::vector<uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};  // 0xRRGGBB
    uint32_t scale = 1;
    uint32_t rate = 20;
    std::vector<Bytes> frames;
    const char* frameTag = "00dc";
    bool index = true;
};

inline Bytes Format(const Clip& c) {
    Bytes f;
    Put32(f, 40);
    Put32(f, uint32_t(c.width));
    Put32(f, uint32_t(c.height));
    Put16(f, 1);
    Put16(f, c.bits);
    Put32(f, c.compression);
    Put32(f, 0);
    Put32(f, 0);
    Put32(f, 0);
    Put32(f, c.colours);
    Put32(f, 0);
    for (uint32_t rgb : c.palette) Put32(f, rgb);  // stored as B, G, R, 0
    return f;
}

inline Bytes StreamHeader(const Clip& c, const char* type = "vids") {
    Bytes h;
    PutTag(h, type);
    PutTag(h, "test");
    for (int i = 0; i < 3; ++i) Put32(h, 0);  // flags, priority+language, initial frames
    Put32(h, c.scale);
    Put32(h, c.rate);
    for (int i = 0; i < 7; ++i) Put32(h, 0);
    return h;
}

inline Bytes Movi(const Clip& c) {
    Bytes m;
    for (const Bytes& f : c.frames) Append(m, Chunk(c.frameTag, f));
    return m;
}

inline Bytes Riff(const Bytes& content) {
    Bytes b;
    PutTag(b, "RIFF");
    Put32(b, uint32_t(content.size() + 4));
    PutTag(b, "AVI ");
    Append(b, content);
    return b;
}

inline Bytes Build(const Clip& c) {
    Bytes avih;
    Put32(avih, 50000);
    for (int i = 0; i < 13; ++i) Put32(avih, 0);
    Bytes strl = Chunk("strh", StreamHeader(c));
    Append(strl, Chunk("strf", Format(c)));
    Bytes hdrl = Chunk("avih", avih);
    Append(hdrl, List("strl", strl));
    Bytes content = List("hdrl", hdrl);
    Append(content, List("movi", Movi(c)));
    if (c.index) {
        Bytes idx;
        for (size_t i = 0; i < c.frames.size(); ++i) {
            PutTag(idx, c.frameTag);
            Put32(idx, 0x10);
            Put32(idx, 0);
            Put32(idx, uint32_t(c.frames[i].size()));
        }
        Append(content, Chunk("idx1", idx));
    }
    return Riff(content);
}

}  // namespace avitest
