#include "platform/fs/PathUtil.h"

#include <sys/stat.h>

namespace platform {

std::string AddBackslash(std::string_view text) {
    std::string out(text);
    if (out.empty() || out.back() != kPathSep) out.push_back(kPathSep);
    return out;
}

std::string TrimAtNull(std::string_view text) {
    const auto nul = text.find('\0');
    return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

std::string PathFindFileNameA(std::string_view path) {
    // A trailing separator belongs to the last component, as on Windows.
    std::size_t end = path.size();
    if (end > 1 && path[end - 1] == kPathSep) --end;
    const auto slash = path.substr(0, end).rfind(kPathSep);
    if (slash == std::string_view::npos) return std::string(path);
    return std::string(path.substr(slash + 1));
}

std::size_t PathFindExtensionA(std::string_view path) {
    std::size_t dot = path.size();
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == kPathSep || c == ' ')
            dot = path.size();
        else if (c == '.')
            dot = i;
    }
    return dot;
}

std::string PathRemoveExtensionA(std::string_view path) {
    return std::string(path.substr(0, PathFindExtensionA(path)));
}

std::string PathRemoveFileSpecA(std::string_view path) {
    const auto slash = path.rfind(kPathSep);
    if (slash == std::string_view::npos) return std::string();
    if (slash == 0) return std::string(1, kPathSep);
    return std::string(path.substr(0, slash));
}

bool PathFileExistsA(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool PathIsDirectoryA(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

unsigned PathGetCharTypeA(unsigned char c) {
    if (c < 32) return GCT_INVALID;
    switch (c) {
    case '"':
    case '<':
    case '>':
    case '|': return GCT_INVALID;
    case '*':
    case '?': return GCT_WILD;
    case '\\':
    case '/':
    case ':': return GCT_SEPARATOR;
    default: break;
    }
    unsigned type = GCT_LFNCHAR;
    if (c < 0x80 && c != ' ' && c != '+' && c != ',' && c != ';' && c != '=' && c != '[' && c != ']')
        type |= GCT_SHORTCHAR;
    return type;
}

}  // namespace platform
