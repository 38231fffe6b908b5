#include "platform/store/Environment.h"

#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

const char* Lookup(const std::string& name) {
    if (name.empty() || name.find('=') != std::string::npos) return nullptr;
    if (const char* v = std::getenv(name.c_str())) return v;
    // Windows names are case-insensitive: %windir% finds WINDIR.
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq && EqualNoCase(std::string_view(*e, eq - *e), name)) return eq + 1;
    }
    return nullptr;
}

}  // namespace

std::string ExpandEnvironmentStringsA(std::string_view text) {
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find('%', pos);
        if (open == std::string_view::npos) break;
        const std::size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) break;
        out.append(text.substr(pos, open - pos));
        const std::string name(text.substr(open + 1, close - open - 1));
        if (const char* value = Lookup(name)) {
            out += value;
            pos = close + 1;
        } else {
            // Keep "%NAME" and let the closing '%' start the next reference,
            // so "100%%PATH%" still expands PATH.
            out.append(text.substr(open, close - open));
            pos = close;
        }
    }
    out.append(text.substr(pos));
    return out;
}

std::string GetSystemDirectoryA() {
    std::string prefix;
    if (const char* p = std::getenv("WINEPREFIX"); p && *p) {
        prefix = p;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        prefix = std::string(home) + "/.wine";
    } else {
        return {};
    }
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
    const std::string dir = prefix + "/drive_c/windows/system32";
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    return dir;
}

}  // namespace platform
