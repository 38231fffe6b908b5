#include "platform/text/TextCodec.h"

namespace platform::text {

namespace {

// Writes cp at p (one to four bytes) and returns the end.
char* PutUtf8(char* p, char32_t cp) {
    if (cp < 0x80) {
        *p++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *p++ = static_cast<char>(0xC0 | (cp >> 6));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *p++ = static_cast<char>(0xE0 | (cp >> 12));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *p++ = static_cast<char>(0xF0 | (cp >> 18));
        *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return p;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    char buf[4];
    out.append(buf, PutUtf8(buf, cp));
}

std::string Utf16LeToUtf8(std::span<const uint8_t> bytes) {
    const std::size_t units = bytes.size() / 2;
    const uint8_t* in = bytes.data();
    // The code point at unit i (a pair is one; a lone half is U+FFFD); i moves past it.
    auto next = [&](std::size_t& i) -> char32_t {
        const char32_t c = in[2 * i] | (in[2 * i + 1] << 8);
        ++i;
        if (c < 0xD800 || c > 0xDFFF) return c;
        if (c <= 0xDBFF && i < units) {
            const char32_t lo = in[2 * i] | (in[2 * i + 1] << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                ++i;
                return 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
            }
        }
        return 0xFFFD;
    };
    // Sized first, then written in place: names run to 64K units.
    std::size_t size = 0;
    for (std::size_t i = 0; i < units;) {
        const char32_t c = next(i);
        size += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    std::string out(size, '\0');
    char* p = out.data();
    for (std::size_t i = 0; i < units;) p = PutUtf8(p, next(i));
    return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    static constexpr char16_t k80[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                         0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        AppendUtf8(out, b >= 0x80 && b < 0xA0 ? k80[b - 0x80] : b);
    }
    return out;
}

char32_t NextUtf8(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = 0;
    char32_t cp = 0, min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) len = 2, cp = b0 & 0x1F, min = 0x80;
    else if (b0 >= 0xE0 && b0 <= 0xEF) len = 3, cp = b0 & 0x0F, min = 0x800;
    else if (b0 >= 0xF0 && b0 <= 0xF4) len = 4, cp = b0 & 0x07, min = 0x10000;
    const auto escaped = [&] {
        ++i;
        return static_cast<char32_t>(0xDC00 | b0);
    };
    if (len == 0 || i + len > s.size()) return escaped();
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return escaped();
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return escaped();
    i += len;
    return cp;
}

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const char32_t cp = NextUtf8(s, i);
        if (cp >= 0xDC80 && cp <= 0xDCFF) return false;
    }
    return true;
}

std::vector<uint8_t> Utf8ToUtf16LeKeepingBytes(std::string_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2);
    const auto put = [&](char32_t u) {
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
    };
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = NextUtf8(text, i);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

std::string Utf16LeToUtf8KeepingBytes(std::span<const uint8_t> bytes) {
    std::string out;
    const std::size_t units = (bytes.size() + 1) / 2;
    auto unit = [&](std::size_t i) -> char32_t {
        return bytes[2 * i] | (2 * i + 1 < bytes.size() ? bytes[2 * i + 1] << 8 : 0);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char32_t lo = unit(i + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xDC80 && u <= 0xDCFF) out += static_cast<char>(u & 0xFF);
        else AppendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
    }
    return out;
}

}  // namespace platform::text
