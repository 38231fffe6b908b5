// Environment references and the Windows folders the settings fall back on.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Replaces every %NAME% by the value of the environment variable NAME (looked
// up as written, then without regard to case). Unknown names and a lone '%'
// stay as written.
std::string ExpandEnvironmentStringsA(std::string_view text);

// The windows/system32 folder of the Wine prefix ($WINEPREFIX, else ~/.wine,
// below drive_c) when it exists, else empty text.
std::string GetSystemDirectoryA();

}  // namespace platform
