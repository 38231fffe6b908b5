// What the engine's units share: its one state, the dispatch, the output
// names and index, and the writers. Callers use mResCore.h; tests reach the
// pieces through this header.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/mResCore.h"
#include "platform/fs/FileError.h"
#include "platform/fs/FileIo.h"
#include "platform/module/PeResources.h"

namespace engine {

// Per folder, the candidate number each base name reached, so a folder
// already holding thousands of files costs no more than an empty one. The
// memory is trusted while the folder's modification time is the one seen
// after our own last write there; any other change (files removed between
// runs) starts the folder's names from 1 again.
struct FolderNames {
    int64_t seen = -1;
    std::unordered_map<std::string, unsigned> next;
};

// What one resource may make us write at least: a damaged group that lists
// one member thousands of times must not fill the disk.
inline constexpr uint64_t kMinOutputLimit = 64ull << 20;

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
    uint64_t OutputLimit = kMinOutputLimit;  // what one resource may make us write
    std::unordered_map<std::string, FolderNames> Names;  // by folder, for the whole run
    std::size_t RememberedNames = 0;                     // names kept in Names
    bool PngImages = false;       // each image also as a PNG (SetPngImages)
    PngTally Pngs;
};
EngineState& State();

inline constexpr const char* kIndexFileName = "__index.txt";
// An exclusive create that keeps meeting new files gives up after this many
// names, so a hostile or broken folder cannot make the scan spin.
inline constexpr int kMaxNameRetries = 1000;

// ---- Scan and dispatch (mResCore.cpp) ---------------------------------------

bool EnumResTypeProc(platform::HMODULE hModule, const platform::ResId& Type, intptr_t Param);
bool EnumResNameProc(platform::HMODULE hModule, const platform::ResId& Type,
                     const platform::ResId& Name, intptr_t Param);

// Writes one resource of a kind; true when its writer wrote a complete file.
// The name keeps the identity it was enumerated with: a string of digits
// stays a string.
bool SaveResource(platform::HMODULE hModule, int Kind, const platform::ResId& Name);

// Writes a new file with write(path) under the name choose gives (asked
// again when something takes it meanwhile), then its index line; the
// writers' errors are recorded and shown, a full disk offered a retry.
// True when the file is written and listed (path names it); false with
// LastError 0 when write refused the data.
bool WriteListed(const std::function<std::string(platform::FileError&)>& choose,
                 const std::function<bool(const std::string&)>& write, int Kind, const std::string& NameText,
                 std::string& path);

// The bytes of one resource; empty ("no bounds") when it cannot be found or
// loaded.
std::vector<uint8_t> LoadResourceData(platform::HMODULE hModule, const platform::ResId& Type,
                                      const platform::ResId& Name);
inline bool IsArrayDimmed(const std::vector<uint8_t>& data) { return !data.empty(); }

// The kind a resource type is extracted as; -1 for the other types.
int KindOfType(const platform::ResId& type);
platform::ResId TypeOfKind(int kind);
// A kind's type as the index says it: "2", "AVI".
std::string TypeTextOf(int kind);
// An ID as its decimal text, a name as itself.
std::string TextOf(const platform::ResId& id);

// The last writer's error, with the path it concerns after the description.
void RecordError(const platform::FileError& e);
void RecordError(const platform::FileError& e, const std::string& path);
// Shows the last writer's error, if it has a description.
void ShowWriteError();
// The program file changed while it was read: nothing more is taken from it.
bool SourceChanged();

// ---- Output names and the index (OutputNames.cpp) ---------------------------

// The full path of a file that does not exist yet in the kind's folder. The
// number each base name reached is remembered per folder for the run, so
// the cost does not grow with the files already there.
std::string MakeOutputPath(int Kind, std::string NameText);
// The same; problem is set when a link, pipe or device holds the first
// candidate that is not a file or folder, or when the name cannot be looked
// at (the folder missing or unreadable, a name too long).
std::string FindOutputPath(int Kind, std::string NameText, platform::FileError& problem);
// A free path in folder for a file named whole + ext, by the same rule: " (2)",
// " (3)" ... before the extension when the name is taken.
std::string FindFreePath(const std::string& folder, const std::string& whole, const std::string& ext,
                         platform::FileError& problem);
// After our own write into folder: its new time is ours, not a change.
void NoteOwnWrite(const std::string& folder);
// Appends the resource's line to the index of the folder holding Path.
platform::FileError WriteIndexEntry(const std::string& Path, int Kind, const std::string& NameText);
// The index line for Path (with its CR LF).
std::string IndexLine(const std::string& Path, int Kind, const std::string& NameText);
// Takes back a file whose index line could not be written (why: that
// error), so that every file in a folder has its line. A file that stays is
// said, with both errors.
bool RemoveUnlistedFile(const std::string& path, std::string why);

void CleanFileName(std::string& Text);
std::string StripExtension(std::string_view Text);
std::string GetExtension(std::string_view Text);
std::string GetFolderPath(std::string_view Path);

// ---- PNG images (PngWriters.cpp) ---------------------------------------------

// Writes each image of the bitmap, icon or cursor file at Path as a PNG
// file beside it, with its index line; a write error is recorded and shown
// as the other writers' are.
void WritePngImages(const std::string& Path, int Kind, const std::string& NameText);

// ---- Writers (ResourceWriters.cpp, GroupWriters.cpp) -------------------------
// True when a complete file was written and named; false with LastError 0
// when the data is missing or refused; false with LastError set when a file
// operation failed or the program file changed. Nothing is left at Path
// unless they return true. What one resource writes stays within 64 MB or
// 16 times the program file's size, whichever is larger; a resource that
// would pass it is refused.
bool SaveBitmap(platform::HMODULE hModule, const std::string& Path, const platform::ResId& Name);
bool SaveRawResource(platform::HMODULE hModule, const std::string& Path, int Kind, const platform::ResId& Name);
bool SaveIconGroup(platform::HMODULE hModule, const std::string& Path, const platform::ResId& Name);
bool SaveCursorGroup(platform::HMODULE hModule, const std::string& Path, const platform::ResId& Name);

// The file contents the bitmap writer puts before the resource's bytes;
// empty when refused.
std::vector<uint8_t> BuildBitmapFile(const std::vector<uint8_t>& dib);

bool WithinOutputLimit(uint64_t bytes);
// Gives a complete new file its name, unless the program file changed while
// its bytes were read from it (or e says a write failed).
bool Publish(platform::NewFile& file, const std::string& path, platform::FileError e);
// Writes the pieces as a new file at path, noting what was created.
bool WriteOutput(const std::string& path, std::span<const std::span<const uint8_t>> pieces);
bool WriteOutput(const std::string& path, std::span<const uint8_t> data);

}  // namespace engine
