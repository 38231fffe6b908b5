// Conversions between the texts program files store and UTF-8, the "ANSI"
// code page here. One place for them, so every reader turns a stored name
// into the same UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::text {

// Appends the UTF-8 form of a code point (up to U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

// UTF-16LE bytes to UTF-8. Surrogate pairs join; a surrogate without its
// partner becomes U+FFFD. An odd last byte is ignored.
std::string Utf16LeToUtf8(std::span<const uint8_t> bytes);

// Windows-1252 to UTF-8. The five bytes the code page leaves unassigned
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same value.
std::string Cp1252ToUtf8(std::string_view bytes);

// ---- Text that keeps every byte (the settings store) ----
// The next code point of UTF-8 text at i, advancing i. A byte that does not
// start a valid sequence comes back as U+DC80..U+DCFF and counts one byte.
char32_t NextUtf8(std::string_view text, std::size_t& i);
bool IsValidUtf8(std::string_view text);
// UTF-8 to UTF-16LE bytes; a byte that is not UTF-8 becomes U+DC80..U+DCFF.
std::vector<uint8_t> Utf8ToUtf16LeKeepingBytes(std::string_view text);
// UTF-16LE bytes back to UTF-8: U+DC80..U+DCFF become their byte again, an
// odd last byte counts as a unit of its own, any other lone surrogate U+FFFD.
std::string Utf16LeToUtf8KeepingBytes(std::span<const uint8_t> bytes);

}  // namespace platform::text
