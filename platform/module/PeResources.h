// Reader of the resource directory of PE32 and PE32+ files and of the
// resource table of 16-bit NE files, standing in for the module and resource
// services of Windows (a module loaded as a data file). Files are opened read-only and read with pread; nothing is executed
// and nothing is mapped, so a file that shrinks while it is read yields
// failures, never a crash.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A resource type or name: an integer ID (0..65535) or a string. Strings are
// UTF-8, converted from the UTF-16 (PE) or Windows-1252 (NE) the module stores.
// Resource types by their numbers in Windows program files.
enum class ResourceType : uint16_t {
    Cursor = 1,
    Bitmap = 2,
    Icon = 3,
    Menu = 4,
    Dialog = 5,
    String = 6,
    FontDir = 7,
    Font = 8,
    Accelerator = 9,
    RcData = 10,
    MessageTable = 11,
    GroupCursor = 12,
    GroupIcon = 14,
    Version = 16,
    AniCursor = 21,
    AniIcon = 22,
    Html = 23,
    Manifest = 24,
};

struct ResId {
    bool isInt = true;
    uint16_t id = 0;
    std::string name;

    static ResId Int(uint16_t v) { return ResId{true, v, {}}; }
    static ResId Type(ResourceType t) { return Int(static_cast<uint16_t>(t)); }
    static ResId Str(std::string s) { return ResId{false, 0, std::move(s)}; }
    bool IsIntResource() const { return isInt; }
};

struct PeModule;       // an open program file
struct PeResource;     // one located resource (a leaf of the directory)
struct PeResourceData; // the loaded bytes of a resource

using HMODULE = PeModule*;
using HRSRC = const PeResource*;
using HGLOBAL = PeResourceData*;

inline constexpr uint32_t LOAD_LIBRARY_AS_DATAFILE = 2;

// Opens path as a data file. Returns nullptr when the file cannot be opened
// or is not a module: no MZ header, or it leads to neither a PE header with a
// usable section table nor an NE header with a usable resource table. NE
// modules have no languages: each of their resources counts as neutral.
// A file the current folder walk found is opened relative to the walk's open
// folder, so that any path length works.
HMODULE LoadLibraryExA(const char* path, void* hFile, uint32_t flags);
bool FreeLibrary(HMODULE module);

// Why the last LoadLibraryExA on this thread gave nullptr: the errno of the
// open or read that failed, 0 when the file was read and is not a module.
int LastLoadError();
// The file's size when it was opened.
uint64_t ModuleFileSize(HMODULE module);
// False once the file changed since it was opened (size or modification
// time) or a read of bytes it had then came back short: what is read from
// it may mix two versions.
bool ModuleUnchanged(HMODULE module);

using ENUMRESTYPEPROCA = bool (*)(HMODULE module, const ResId& type, intptr_t param);
using ENUMRESNAMEPROCA = bool (*)(HMODULE module, const ResId& type, const ResId& name, intptr_t param);

// Calls proc once per resource type, in directory order (string entries
// first, then IDs), until proc returns false.
bool EnumResourceTypesA(HMODULE module, ENUMRESTYPEPROCA proc, intptr_t param);
// Calls proc once per name of the type (whatever its languages), in
// directory order, until proc returns false. String types are found
// case-insensitively; the name is handed on exactly as stored.
bool EnumResourceNamesA(HMODULE module, const ResId& type, ENUMRESNAMEPROCA proc, intptr_t param);

// Finds a resource. A string name or type "#<digits>" stands for that ID;
// other strings compare case-insensitively (ASCII). Among several languages
// takes neutral, then the user's locale, then 0x409, then the first listed.
// The handle stays valid until FreeLibrary.
HRSRC FindResourceA(HMODULE module, const ResId& name, const ResId& type);
// Reads the resource's bytes (checked against the file). nullptr on failure.
HGLOBAL LoadResource(HMODULE module, HRSRC res);
const void* LockResource(HGLOBAL data);
uint32_t SizeofResource(HMODULE module, HRSRC res);
bool FreeResource(HGLOBAL data);

// The language ID taken from LC_ALL / LC_MESSAGES / LANG ("de_DE" -> 0x407),
// 0 when unknown. Exposed for tests.
uint16_t UserLocaleLanguage();

}  // namespace platform
