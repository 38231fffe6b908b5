#include "platform/system/SystemVersion.h"

namespace platform {

namespace {
OSVERSIONINFOA g_version;
}

bool GetVersionExA(OSVERSIONINFOA& info) {
    info = g_version;
    return true;
}

void SetSystemVersion(const OSVERSIONINFOA& info) { g_version = info; }
void ResetSystemVersion() { g_version = OSVERSIONINFOA{}; }

}  // namespace platform
