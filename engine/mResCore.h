// The resource extraction engine: scans one program file as data, writes
// each resource of the selected kinds as a file of its own below the
// destination, appends its index line and tells the owner.
//
// Module-level state, one scan at a time, not re-entrant: the owner must
// not start a scan from inside ResFound.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ResTypes.h"
#include "platform/FileError.h"
#include "platform/PeResources.h"

namespace engine {

// Scans FilePath (left unchanged) and writes every resource of the kinds
// set in Types into DestFolder/<kind folder>/. Returns true when a write
// error, or the file changing while it was read, stopped the scan of this
// file (LastError nonzero at the end). A file that could not be opened or
// read at all leaves its errno in State().ReadError.
bool ExtractResources(std::string& FilePath, const ResTypes& Types, IResOwner* Owner,
                      const std::string& DestFolder);

// ---- Internals, declared here so tests can reach them -------------------

struct EngineState {
    ResTypes Types;               // copy of the caller's selection
    IResOwner* Owner = nullptr;   // receives ResFound
    std::string DestFolder;       // always ends with '/'
    std::string SourceFile;       // the program file being scanned, as given
    int32_t LastError = 0;        // file-error number of the last writer; 0 none
    std::string LastErrorDescription;
    std::string CreatedPath;      // the file the last writer created, "" when none
    VBBool Cancel = kFalse;       // the owner's Idle asked to stop the scan
    platform::HMODULE Module = nullptr;  // the program file while it is open
    int ReadError = 0;            // errno when the program file could not be opened or read
};
EngineState& State();

bool EnumResTypeProc(platform::HMODULE hModule, const platform::ResId& Type, intptr_t Param);
bool EnumResNameProc(platform::HMODULE hModule, const platform::ResId& Type,
                     const platform::ResId& Name, intptr_t Param);

// Writes one resource; true when its writer wrote a complete file. The name
// keeps the identity it was enumerated with: a string of digits stays a string.
bool SaveResource(platform::HMODULE hModule, const std::string& TypeText, const platform::ResId& Name);

// The bytes of one resource; empty ("no bounds") when it cannot be found or
// loaded.
std::vector<uint8_t> LoadResourceData(platform::HMODULE hModule, const platform::ResId& Type,
                                      const platform::ResId& Name);
inline bool IsArrayDimmed(const std::vector<uint8_t>& data) { return !data.empty(); }

// The full path of a file that does not exist yet in the kind's folder. The
// number each base name reached is remembered per folder for the run, so
// the cost does not grow with the files already there.
std::string MakeOutputPath(const std::string& TypeText, std::string NameText);
// Appends the resource's line to the index of the folder holding Path.
platform::FileError WriteIndexEntry(const std::string& Path, const std::string& TypeText,
                                    const std::string& NameText);
// The index line for Path (with its CR LF).
std::string IndexLine(const std::string& Path, const std::string& TypeText, const std::string& NameText);

void CleanFileName(std::string& Text);
std::string StripExtension(std::string_view Text);
std::string GetExtension(std::string_view Text);
std::string GetFolderPath(std::string_view Path);

// Writers: true when a complete file was written and named; false with
// LastError 0 when the data is missing or refused; false with LastError set
// when a file operation failed or the program file changed. Nothing is left
// at Path unless they return true. What one
// resource writes stays within 64 MB or 16 times the program file's size,
// whichever is larger; a resource that would pass it is refused.
bool SaveBitmap(platform::HMODULE hModule, const std::string& Path, const platform::ResId& Name);
bool SaveRawResource(platform::HMODULE hModule, const std::string& Path, const std::string& TypeText,
                     const platform::ResId& Name);
bool SaveIconGroup(platform::HMODULE hModule, const std::string& Path, const platform::ResId& Name);
bool SaveCursorGroup(platform::HMODULE hModule, const std::string& Path, const platform::ResId& Name);

// The file contents the writers produce, from resource bytes alone; empty
// when refused. Exposed so the byte layout can be checked without a module.
std::vector<uint8_t> BuildBitmapFile(const std::vector<uint8_t>& dib);

// The disk-full prompt.
inline constexpr const char* kDiskFullPrompt = "The drive is full.\r\nPlease free some space on the drive.";

}  // namespace engine
