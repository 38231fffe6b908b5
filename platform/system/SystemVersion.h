// GetVersionExA stand-in: a fixed, modern NT-family answer that tests may
// replace to exercise the code paths of older systems.
#pragma once

#include <cstdint>

namespace platform {

enum : uint32_t { VER_PLATFORM_WIN32s = 0, VER_PLATFORM_WIN32_WINDOWS = 1, VER_PLATFORM_WIN32_NT = 2 };

struct OSVERSIONINFOA {
    uint32_t dwMajorVersion = 10;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 19045;
    uint32_t dwPlatformId = VER_PLATFORM_WIN32_NT;
};

bool GetVersionExA(OSVERSIONINFOA& info);
// Replaces the answer (tests); ResetSystemVersion restores the default.
void SetSystemVersion(const OSVERSIONINFOA& info);
void ResetSystemVersion();

}  // namespace platform
