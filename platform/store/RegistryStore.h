// The registry functions on Linux, over the file-backed store (RegFile.h)
// in the registry editor's text format (RegFormat.h), so a user can read the
// settings, edit them and import them on Windows.
//
// Texts are converted between the store's UTF-16LE and UTF-8, the "ANSI"
// code page here, at the ...A functions. Bytes that are not UTF-8 survive the
// trip (they travel as U+DC80..U+DCFF).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/store/RegFile.h"
#include "platform/store/RegFormat.h"

namespace platform {

enum : std::uint32_t {
    KEY_QUERY_VALUE = 0x1,
    KEY_SET_VALUE = 0x2,
    KEY_CREATE_SUB_KEY = 0x4,
    KEY_ENUMERATE_SUB_KEYS = 0x8,
    KEY_NOTIFY = 0x10,
    KEY_CREATE_LINK = 0x20,
    KEY_ALL_ACCESS = 0x3F,
};
inline constexpr std::uint32_t REG_OPTION_NON_VOLATILE = 0;
inline constexpr std::uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr std::uint32_t REG_OPENED_EXISTING_KEY = 2;

// Opening, creating and closing keys. A handle names a key by its path; every
// call on it reads the current store, so nothing is held open between calls.
LSTATUS RegOpenKeyExA(HKEY key, std::string_view subKey, std::uint32_t options, std::uint32_t samDesired,
                      HKEY* result);
LSTATUS RegCreateKeyExA(HKEY key, std::string_view subKey, std::uint32_t options, std::uint32_t samDesired,
                        HKEY* result, std::uint32_t* disposition = nullptr);
LSTATUS RegCloseKey(HKEY key);
// Deletes a key that has no subkeys.
LSTATUS RegDeleteKeyA(HKEY key, std::string_view subKey);

// With data == nullptr only *type and *size are filled (success). With a
// buffer smaller than the value: ERROR_MORE_DATA and the size needed. Text
// types come back as UTF-8 with their NULs.
LSTATUS RegQueryValueExA(HKEY key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                         std::uint32_t* size);
LSTATUS RegSetValueExA(HKEY key, std::string_view name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t size);
LSTATUS RegDeleteValueA(HKEY key, std::string_view name);
// Names in stored order; ERROR_NO_MORE_ITEMS past the last.
LSTATUS RegEnumValueA(HKEY key, std::uint32_t index, std::string& name);
LSTATUS RegEnumKeyA(HKEY key, std::uint32_t index, std::string& name);

}  // namespace platform
