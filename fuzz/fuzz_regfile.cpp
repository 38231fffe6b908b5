// The settings store's text format over arbitrary bytes: what parses is
// written, and the written text must parse to the same store and be written
// again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/store/RegFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace platform;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    RegHive hive;
    if (!ParseRegFile(bytes, HKEY_CURRENT_USER, hive)) return 0;
    const std::string text = FormatRegFile(hive, HKEY_CURRENT_USER);
    // Keys nest at most 512 levels, so the text stays within a fixed multiple of the input.
    if (text.size() > 64 + 2048 * (size + 64)) std::abort();
    RegHive again;
    if (!ParseRegFile(text, HKEY_CURRENT_USER, again) || !(again == hive)) std::abort();
    if (FormatRegFile(again, HKEY_CURRENT_USER) != text) std::abort();
    return 0;
}
