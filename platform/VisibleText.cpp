#include "platform/VisibleText.h"

#include <cstdint>

namespace platform {

namespace {

void AppendHex(std::string& out, const char* prefix, uint32_t value, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xf]);
}

// Length of the valid UTF-8 sequence at text[i] (its code point in cp), 0 if
// there is none: no overlong forms, no surrogates, nothing past U+10FFFF.
std::size_t Utf8Length(std::string_view text, std::size_t i, uint32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = b(i);
    std::size_t n = 0;
    uint32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
        n = 2, cp = lead & 0x1fu, min = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        n = 3, cp = lead & 0x0fu, min = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        n = 4, cp = lead & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < n) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xc0) != 0x80) return 0;
        cp = cp << 6 | (b(i + k) & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
    return n;
}

}  // namespace

std::string VisibleText(std::string_view text) {
    static constexpr char kLetters[] = "abtnvfr";  // \a (7) to \r (13)
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const std::size_t n = Utf8Length(text, i, cp);
        if (n == 0) {
            AppendHex(out, "\\x", static_cast<uint8_t>(text[i]), 2);
            ++i;
            continue;
        }
        if (cp >= 7 && cp <= 13) {
            out.push_back('\\');
            out.push_back(kLetters[cp - 7]);
        } else if (cp < 0x20 || cp == 0x7f) {
            AppendHex(out, "\\x", cp, 2);
        } else if (cp >= 0x80 && cp <= 0x9f) {
            AppendHex(out, "\\u", cp, 4);
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out;
}

}  // namespace platform
