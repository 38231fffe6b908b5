// The resource extraction engine: scans one program file as data, writes
// each resource of the selected kinds as a file of its own below the
// destination, appends its index line and tells the owner.
//
// Module-level state, one scan at a time, not re-entrant: the owner must
// not start a scan from inside ResFound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ResTypes.h"

namespace engine {

// Scans FilePath (left unchanged) and writes every resource of the kinds
// set in Types into DestFolder/<kind folder>/. Returns true when a write
// error, or the file changing while it was read, stopped the scan of this
// file (LastError nonzero at the end). A file that could not be opened or
// read at all leaves its errno for LastReadError.
bool ExtractResources(std::string& FilePath, const ResTypes& Types, IResOwner* Owner,
                      const std::string& DestFolder);

// errno of the last scan's program file when it could not be opened or read; 0 otherwise.
int LastReadError();

// With on, each image of every bitmap, icon and cursor written is also
// written as a PNG file beside it ("<file> 32x32.png"), listed in the same
// index. The tally counts from here.
void SetPngImages(bool on);
struct PngTally {
    uint64_t written = 0;
    uint64_t missed = 0;               // images that could not be decoded
    std::vector<std::string> missedIn;  // the files holding them, the first 100
};
const PngTally& PngImagesTally();

// The disk-full prompt.
inline constexpr const char* kDiskFullPrompt = "The drive is full.\r\nPlease free some space on the drive.";

}  // namespace engine
