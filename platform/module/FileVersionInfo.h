// Version information of a program file, standing in for the version
// services of Windows (GetFileVersionInfoSizeA, GetFileVersionInfoA,
// VerQueryValueA). The module's version resource (type 16) is read with the
// PE resource reader and walked as a tree of blocks:
//   wLength, wValueLength, wType (16 bits each), a UTF-16 key ending in NUL,
//   padding to 32 bits, the value, padding, then the child blocks.
// Every length is checked against its parent block; a block that runs past
// its parent, a zero length, or a tree nested deeper than a few levels ends
// the walk instead of being followed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

inline constexpr uint32_t VS_FFI_SIGNATURE = 0xFEEF04BDu;

// The fixed version record (52 bytes) found under "\".
struct VS_FIXEDFILEINFO {
    uint32_t dwSignature;
    uint32_t dwStrucVersion;
    uint32_t dwFileVersionMS;
    uint32_t dwFileVersionLS;
    uint32_t dwProductVersionMS;
    uint32_t dwProductVersionLS;
    uint32_t dwFileFlagsMask;
    uint32_t dwFileFlags;
    uint32_t dwFileOS;
    uint32_t dwFileType;
    uint32_t dwFileSubtype;
    uint32_t dwFileDateMS;
    uint32_t dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

// Size of the buffer GetFileVersionInfoA needs; 0 when the file cannot be
// read, has no version resource, or the resource is not a version block.
// *handle, when given, is set to 0.
uint32_t GetFileVersionInfoSizeA(const char* path, uint32_t* handle);

// Copies the version block into data (len bytes). Fails when len is smaller
// than the block, so that the block in the buffer is always whole.
bool GetFileVersionInfoA(const char* path, uint32_t handle, uint32_t len, void* data);

// Looks up a value in a block filled by GetFileVersionInfoA: "\" gives the
// fixed record, "\VarFileInfo\Translation" the language and code page pairs.
// Keys compare case-insensitively. Only binary values are answered (text
// values under "\StringFileInfo" are UTF-16 and nothing here needs them).
// The block's own length bounds the walk; the block must come from
// GetFileVersionInfoA (or be checked with VersionBlockLength first).
bool VerQueryValueA(const void* block, const char* subBlock, const void** buffer, uint32_t* len);

// The same lookup on a buffer of known size (used by VerQueryValueA once the
// block's length is known; tests feed it hostile bytes).
bool VerQueryValueBounded(const void* block, size_t size, const char* subBlock, const void** buffer,
                          uint32_t* len);

// Length of the version block at the start of data (its root wLength) when
// data holds a well-formed root: at least a header and the key
// "VS_VERSION_INFO", and no longer than size. 0 otherwise.
uint32_t VersionBlockLength(const void* data, size_t size);

}  // namespace platform
