#include "registry/Variant.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace registry {

namespace {

bool EqualNoCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

std::optional<long long> ParseNumber(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    std::size_t e = s.find_last_not_of(" \t");
    if (b == std::string::npos) return std::nullopt;
    const std::string t = s.substr(b, e - b + 1);
    errno = 0;
    char* end = nullptr;
    const long long n = std::strtoll(t.c_str(), &end, 10);
    if (errno != 0 || end != t.c_str() + t.size()) return std::nullopt;
    return n;
}

}  // namespace

std::int32_t Variant::AsLong() const {
    if (kind() == Kind::Integer) return std::get<std::int16_t>(v_);
    return std::get<std::int32_t>(v_);
}

std::string Variant::ToText() const {
    switch (kind()) {
    case Kind::Empty: return {};
    case Kind::Integer:
    case Kind::Long: return std::to_string(AsLong());
    case Kind::Boolean: return AsBool() ? "True" : "False";
    case Kind::String: return AsString();
    case Kind::Bytes: return std::string(AsBytes().begin(), AsBytes().end());
    }
    return {};
}

std::optional<std::int32_t> Variant::ToInt32() const {
    switch (kind()) {
    case Kind::Empty: return 0;
    case Kind::Integer:
    case Kind::Long: return AsLong();
    case Kind::Boolean: return AsBool() ? -1 : 0;
    case Kind::String: {
        auto n = ParseNumber(AsString());
        if (!n || *n < std::numeric_limits<std::int32_t>::min() || *n > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
        return static_cast<std::int32_t>(*n);
    }
    case Kind::Bytes: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::int16_t> Variant::ToInt16() const {
    auto n = ToInt32();
    if (!n || *n < std::numeric_limits<std::int16_t>::min() || *n > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(*n);
}

std::optional<bool> Variant::ToBool() const {
    if (kind() == Kind::Boolean) return AsBool();
    if (kind() == Kind::String) {
        if (EqualNoCase(AsString(), "True")) return true;
        if (EqualNoCase(AsString(), "False")) return false;
    }
    auto n = ToInt32();
    if (!n) return std::nullopt;
    return *n != 0;
}

}  // namespace registry
