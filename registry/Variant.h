// The value type of the registry class: empty, 16- or 32-bit integer,
// Boolean, text or byte array, with the conversions its callers need.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace registry {

using ByteArray = std::vector<std::uint8_t>;

class Variant {
public:
    enum class Kind { Empty, Integer, Long, Boolean, String, Bytes };

    Variant() = default;
    Variant(std::int16_t v) : v_(v) {}
    Variant(std::int32_t v) : v_(v) {}
    Variant(bool v) : v_(BoolBox{v}) {}
    Variant(std::string v) : v_(std::move(v)) {}
    Variant(const char* v) : v_(std::string(v ? v : "")) {}
    Variant(ByteArray v) : v_(std::move(v)) {}

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool IsEmpty() const { return kind() == Kind::Empty; }
    bool IsInteger() const { return kind() == Kind::Integer || kind() == Kind::Long; }

    // Exact accessors; only valid for the matching kind.
    std::int32_t AsLong() const;  // Integer or Long
    bool AsBool() const { return std::get<BoolBox>(v_).value; }
    const std::string& AsString() const { return std::get<std::string>(v_); }
    const ByteArray& AsBytes() const { return std::get<ByteArray>(v_); }

    // The value as text: decimal numbers, "True"/"False", bytes as they are.
    std::string ToText() const;
    // Conversions into a form field's kind; nothing when the value does not
    // fit (text that is no number, a number out of range, bytes).
    std::optional<bool> ToBool() const;
    std::optional<std::int16_t> ToInt16() const;
    std::optional<std::int32_t> ToInt32() const;

    bool operator==(const Variant& other) const = default;

private:
    struct BoolBox {
        bool value;
        bool operator==(const BoolBox&) const = default;
    };
    std::variant<std::monostate, std::int16_t, std::int32_t, BoolBox, std::string, ByteArray> v_;
};

}  // namespace registry
