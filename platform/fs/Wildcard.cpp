#include "platform/fs/Wildcard.h"

#include <cstddef>

namespace platform {

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Length of the character at i: a lead byte and its continuation bytes.
std::size_t CharEnd(std::string_view s, std::size_t i) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    return i;
}

// Iterative matcher with one backtrack point (the last star): O(name * pattern)
// at worst, never exponential whatever the number of stars.
bool Match(std::string_view name, std::string_view pat) {
    if (pat == "*.*" || pat == "*") return true;
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t n = 0, p = 0, starP = kNone, starN = 0;
    while (n < name.size()) {
        if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pat.size() && pat[p] == '?') {
            n = CharEnd(name, n);
            ++p;
        } else if (p < pat.size() && Fold(pat[p]) == Fold(name[n])) {
            ++n;
            ++p;
        } else if (starP != kNone) {
            p = starP + 1;
            n = starN = CharEnd(name, starN);
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

}  // namespace

bool PathMatchSpecA(std::string_view name, std::string_view spec) {
    std::size_t start = 0;
    while (start < spec.size()) {
        std::size_t end = spec.find(';', start);
        if (end == std::string_view::npos) end = spec.size();
        std::string_view one = spec.substr(start, end - start);
        while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
        if (!one.empty() && Match(name, one)) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace platform
