// The registry on Linux: one text file per root key, in the registry editor's
// export format, so a user can read it, edit it and import it on Windows.
//
// Folder: $LOOMVALE_REGISTRY, else $XDG_CONFIG_HOME/loomvale, else
// ~/.config/loomvale; files HKEY_LOCAL_MACHINE.reg and so on. Every change is
// one transaction under an flock on "<file>.lock": the file is read, changed in
// memory, written to a temporary file in the same folder, fsync'ed and renamed
// over the old one. A file that cannot be parsed is renamed aside to
// "<file>.corrupt" (or ".corrupt.N", never over an earlier one).
//
// Texts are kept as UTF-16LE inside (as the registry does) and converted to
// and from UTF-8, the "ANSI" code page here, at the ...A functions. Bytes that
// are not UTF-8 survive the trip (they travel as U+DC80..U+DCFF).
#pragma once

#include <cstdint>
#include <functional>
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

enum : std::uint32_t {
    KEY_QUERY_VALUE = 0x1,
    KEY_SET_VALUE = 0x2,
    KEY_CREATE_SUB_KEY = 0x4,
    KEY_ENUMERATE_SUB_KEYS = 0x8,
    KEY_NOTIFY = 0x10,
    KEY_CREATE_LINK = 0x20,
    KEY_ALL_ACCESS = 0x3F,
};
inline constexpr std::uint32_t REG_OPTION_NON_VOLATILE = 0;
inline constexpr std::uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr std::uint32_t REG_OPENED_EXISTING_KEY = 2;

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
    ERROR_MORE_DATA = 234,
    ERROR_NO_MORE_ITEMS = 259,
    ERROR_BADDB = 1009,
    ERROR_KEY_HAS_CHILDREN = 1020,
};

// Opening, creating and closing keys. A handle names a key by its path; every
// call on it reads the current store, so nothing is held open between calls.
LSTATUS RegOpenKeyExA(HKEY key, std::string_view subKey, std::uint32_t options, std::uint32_t samDesired,
                      HKEY* result);
LSTATUS RegCreateKeyExA(HKEY key, std::string_view subKey, std::uint32_t options, std::uint32_t samDesired,
                        HKEY* result, std::uint32_t* disposition = nullptr);
LSTATUS RegCloseKey(HKEY key);
// Deletes a key that has no subkeys.
LSTATUS RegDeleteKeyA(HKEY key, std::string_view subKey);

// With data == nullptr only *type and *size are filled (success). With a
// buffer smaller than the value: ERROR_MORE_DATA and the size needed. Text
// types come back as UTF-8 with their NULs.
LSTATUS RegQueryValueExA(HKEY key, std::string_view name, std::uint32_t* type, std::uint8_t* data,
                         std::uint32_t* size);
LSTATUS RegSetValueExA(HKEY key, std::string_view name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t size);
LSTATUS RegDeleteValueA(HKEY key, std::string_view name);
// Names in stored order; ERROR_NO_MORE_ITEMS past the last.
LSTATUS RegEnumValueA(HKEY key, std::uint32_t index, std::string& name);
LSTATUS RegEnumKeyA(HKEY key, std::uint32_t index, std::string& name);

// Where the store files are, read from the environment at each call.
std::string RegistryFolder();

// ---- The file format, also usable on its own (tests, tools) ----

struct RegValue {
    std::string name;  // UTF-8; "" is the default value
    std::uint32_t type = REG_NONE;
    std::vector<std::uint8_t> data;  // as the registry holds it (texts UTF-16LE)
};
struct RegKeyData {
    std::string path;  // below the root, '\' between levels, "" for the root itself
    std::vector<RegValue> values;
};
struct RegHive {
    std::vector<RegKeyData> keys;  // parents before children, otherwise as found

    RegKeyData* Find(std::string_view path);
    const RegKeyData* Find(std::string_view path) const;
    // Adds the key and its missing parents; returns it.
    RegKeyData& Ensure(std::string_view path);
    bool HasChildren(std::string_view path) const;
};

// Name of a root ("HKEY_LOCAL_MACHINE"), or "" for a handle that is no root.
const char* RootKeyName(HKEY root);
// Parses a whole file (either header, UTF-16LE with BOM or 8-bit). Sections of
// other roots than `root` make the file unparseable. Error text in *error.
bool ParseRegFile(std::string_view bytes, HKEY root, RegHive& hive, std::string* error = nullptr);
std::string FormatRegFile(const RegHive& hive, HKEY root);

// Case-insensitive comparison of key and value names.
bool RegNamesEqual(std::string_view a, std::string_view b);
// UTF-8 (bytes that are not UTF-8 kept as U+DC80..U+DCFF) <-> UTF-16LE bytes.
std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view text);
std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t size);

// ---- Fault injection for tests ----
enum class RegWriteStep { CheckWritable, Lock, WriteTemp, Sync, Rename };
// Called before each step of a write transaction; a non-zero errno makes the
// step fail with it. nullptr removes the hook.
void SetRegistryFaultHook(std::function<int(RegWriteStep)> hook);

}  // namespace platform
