// File-name helpers with the results of their Windows namesakes, on
// '/'-separated paths. Positions are byte offsets into UTF-8 text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char kPathSep = '/';

// Text followed by '/' unless it already ends with one; "" gives "/".
std::string AddBackslash(std::string_view text);
// Text up to its first NUL character.
std::string TrimAtNull(std::string_view text);

// The part after the last separator (the whole text when there is none).
std::string PathFindFileNameA(std::string_view path);
// Offset of the extension's '.' in the last component, or path.size() when
// there is none. A space after the last dot means "no extension".
std::size_t PathFindExtensionA(std::string_view path);
std::string PathRemoveExtensionA(std::string_view path);
// Removes the last component and the separator before it ("/a/b" -> "/a",
// "/a" -> "/", "a" -> "").
std::string PathRemoveFileSpecA(std::string_view path);
// True when anything (file, folder, even a dangling link) is at path.
bool PathFileExistsA(const std::string& path);
bool PathIsDirectoryA(const std::string& path);

enum : unsigned {
    GCT_INVALID = 0,
    GCT_LFNCHAR = 1,
    GCT_SHORTCHAR = 2,
    GCT_WILD = 4,
    GCT_SEPARATOR = 8,
};
// Class of one byte. Control characters and  " * / : < > ? \ |  may not
// stand in a long file name; bytes of 0x80 and up (UTF-8) may.
unsigned PathGetCharTypeA(unsigned char c);

}  // namespace platform
