#include "platform/text/VisibleText.h"

#include <cstdint>

#include "platform/text/TextCodec.h"

namespace platform {

namespace {

void AppendHex(std::string& out, const char* prefix, uint32_t value, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xf]);
}

}  // namespace

std::string VisibleText(std::string_view text) {
    static constexpr char kLetters[] = "abtnvfr";  // \a (7) to \r (13)
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        const char32_t cp = text::NextUtf8(text, i);
        if (cp >= 0xDC80 && cp <= 0xDCFF) {
            AppendHex(out, "\\x", cp & 0xFF, 2);  // a byte that is not UTF-8
        } else if (cp >= 7 && cp <= 13) {
            out.push_back('\\');
            out.push_back(kLetters[cp - 7]);
        } else if (cp < 0x20 || cp == 0x7f) {
            AppendHex(out, "\\x", cp, 2);
        } else if (cp >= 0x80 && cp <= 0x9f) {
            AppendHex(out, "\\u", cp, 4);
        } else {
            out.append(text, at, i - at);
        }
    }
    return out;
}

}  // namespace platform
