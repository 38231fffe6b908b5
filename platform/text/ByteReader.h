// A checked reader over bytes taken from a file. Every read returns an empty
// optional instead of running past the end, so a parser reads its format's
// fields in order and never indexes a raw pointer after a separate check.
// Multi-byte values are little-endian, as in every Windows file format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace platform {

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    std::size_t Size() const { return bytes_.size(); }
    std::size_t Pos() const { return pos_; }
    std::size_t Remaining() const { return bytes_.size() - pos_; }

    // A reader over the same bytes placed at off; one past the end reads nothing.
    ByteReader At(uint64_t off) const {
        ByteReader r(bytes_);
        r.pos_ = off <= bytes_.size() ? static_cast<std::size_t>(off) : bytes_.size();
        r.failed_ = off > bytes_.size();
        return r;
    }

    // Moves on n bytes; false (and no move) when fewer remain.
    bool Skip(uint64_t n) { return Take(n).has_value(); }

    std::optional<uint8_t> U8() {
        auto s = Take(1);
        if (!s) return std::nullopt;
        return (*s)[0];
    }
    std::optional<uint16_t> Le16() {
        auto s = Take(2);
        if (!s) return std::nullopt;
        return static_cast<uint16_t>((*s)[0] | ((*s)[1] << 8));
    }
    std::optional<uint32_t> Le32() {
        auto s = Take(4);
        if (!s) return std::nullopt;
        return static_cast<uint32_t>((*s)[0]) | (static_cast<uint32_t>((*s)[1]) << 8) |
               (static_cast<uint32_t>((*s)[2]) << 16) | (static_cast<uint32_t>((*s)[3]) << 24);
    }
    std::optional<std::span<const uint8_t>> Bytes(uint64_t n) { return Take(n); }
    std::optional<std::string_view> Chars(uint64_t n) {
        auto s = Take(n);
        if (!s) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(s->data()), s->size());
    }

private:
    std::optional<std::span<const uint8_t>> Take(uint64_t n) {
        if (failed_ || n > Remaining()) return std::nullopt;
        auto s = bytes_.subspan(pos_, static_cast<std::size_t>(n));
        pos_ += static_cast<std::size_t>(n);
        return s;
    }

    std::span<const uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

// One field at off, for formats whose layout has fixed offsets; 0 when the
// field lies past the end (where the caller checked the room beforehand,
// that does not happen).
inline uint16_t Le16At(std::span<const uint8_t> bytes, uint64_t off) {
    return ByteReader(bytes).At(off).Le16().value_or(0);
}
inline uint32_t Le32At(std::span<const uint8_t> bytes, uint64_t off) {
    return ByteReader(bytes).At(off).Le32().value_or(0);
}

// The writing side: little-endian values appended to a byte buffer.
inline void AppendLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendLe32(std::vector<uint8_t>& out, uint32_t v) {
    AppendLe16(out, static_cast<uint16_t>(v));
    AppendLe16(out, static_cast<uint16_t>(v >> 16));
}

}  // namespace platform
