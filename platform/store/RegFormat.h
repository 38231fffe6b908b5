// The registry's types and the text format of its store: the registry
// editor's export format ("Windows Registry Editor Version 5.00" or
// "REGEDIT4"). Bytes in, bytes out: nothing here touches a file.
//
// Texts are kept as UTF-16LE inside (as the registry does). Bytes that are
// not UTF-8 travel as U+DC80..U+DCFF (TextCodec.h), so they come back byte
// for byte.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using HKEY = std::uint32_t;
using LSTATUS = long;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

enum : std::uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
    REG_QWORD = 11,
};

enum : LSTATUS {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_HANDLE = 6,
    ERROR_INVALID_DATA = 13,
    ERROR_WRITE_FAULT = 29,
    ERROR_LOCK_VIOLATION = 33,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_DISK_FULL = 112,
    ERROR_BAD_PATHNAME = 161,
    ERROR_BUSY = 170,
    ERROR_MORE_DATA = 234,
    ERROR_NO_MORE_ITEMS = 259,
    ERROR_BADDB = 1009,
    ERROR_KEY_HAS_CHILDREN = 1020,
};

inline bool IsTextType(std::uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Keys nest at most this deep below their root, as on Windows.
inline constexpr std::size_t kMaxKeyDepth = 512;

struct RegValue {
    std::string name;  // UTF-8; "" is the default value
    std::uint32_t type = REG_NONE;
    std::vector<std::uint8_t> data;  // as the registry holds it (texts UTF-16LE)
    bool operator==(const RegValue&) const = default;
};
struct RegKeyData {
    std::string path;  // below the root, '\' between levels, "" for the root itself
    std::vector<RegValue> values;
    bool operator==(const RegKeyData&) const = default;

    RegValue* FindValue(std::string_view name);
    const RegValue* FindValue(std::string_view name) const;
    // Replaces the value of that name (keeping its first spelling and place) or adds it.
    bool SetValue(RegValue v);  // true when something changed
    bool RemoveValue(std::string_view name);
};

// The keys of one root. Lookups go through an index of the names folded to
// upper case, so a store of many keys loads in linear time.
class RegHive {
public:
    // Parents before children, otherwise as found.
    const std::vector<RegKeyData>& Keys() const { return keys_; }

    RegKeyData* Find(std::string_view path);
    const RegKeyData* Find(std::string_view path) const;
    // Adds the key and its missing parents; returns it. A new key takes its
    // parents' names as they are already spelled.
    RegKeyData& Ensure(std::string_view path);
    bool HasChildren(std::string_view path) const;
    // Removes the key alone, or the key with every key below it ("" for all).
    bool Remove(std::string_view path);
    void RemoveTree(std::string_view path);

    bool operator==(const RegHive& o) const { return keys_ == o.keys_; }

private:
    void Drop(const std::vector<std::size_t>& sorted);
    std::vector<RegKeyData> keys_;
    std::map<std::string, std::size_t> index_;  // folded path -> position in keys_
};

// Name of a root ("HKEY_LOCAL_MACHINE"), or "" for a handle that is no root.
const char* RootKeyName(HKEY root);

// Checks a key path below some key: no empty level, no control characters,
// levels of at most 255 characters, at most kMaxKeyDepth levels in all with
// `depthAbove` levels above it. One trailing '\' is dropped, as the registry does.
LSTATUS CheckKeyPath(std::string_view& sub, std::size_t depthAbove = 0);
std::size_t KeyDepth(std::string_view path);

// The keys a parse keeps in memory: a key with its ancestors, and with every
// key below it too when `tree`. The rest of the file is checked all the same.
struct RegScope {
    std::string path;  // below the root
    bool tree = false;
    bool Keeps(std::string_view key) const;
    // Whatever `other` keeps, this keeps too.
    bool Covers(const RegScope& other) const;
};

// Where the kept sections of a parsed file lie, so that they alone can be
// written anew and the rest copied as it is. Only for a file in the form we
// write (the 5.00 header first, UTF-8, no key deletions): otherwise
// `inPlace` is false and a change rewrites the whole file.
struct RegLayout {
    bool inPlace = false;
    std::vector<std::pair<std::size_t, std::size_t>> kept;  // [begin, end) of each kept section, in order
};

// Parses a whole file (either header, UTF-16LE with BOM, UTF-8 or 8-bit).
// Sections of other roots than `root` make the file unparseable; sections
// nested deeper than kMaxKeyDepth are skipped with their values. Error text
// in *error. With a scope only the keys it keeps are held.
bool ParseRegFile(std::string_view bytes, HKEY root, RegHive& hive, std::string* error = nullptr,
                  const RegScope* scope = nullptr, RegLayout* layout = nullptr);
std::string FormatRegFile(const RegHive& hive, HKEY root);
// The sections of the keys alone, as FormatRegFile writes them after its header.
std::string FormatRegKeys(const RegHive& hive, HKEY root);

// Case-insensitive comparison of key and value names.
bool RegNamesEqual(std::string_view a, std::string_view b);

}  // namespace platform
