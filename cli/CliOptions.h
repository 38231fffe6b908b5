// Command-line options of loomvale-extract. Every option is one row of the
// table in CliOptions.cpp; add a row (and a field here) to add an option.
#pragma once

#include <string>
#include <vector>

#include "engine/ResTypes.h"

namespace cli {

inline constexpr const char* kDefaultMask = "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx";

struct CliOptions {
    std::string dest;               // --dest DIR
    engine::ResTypes types;         // --types LIST (default: all kinds)
    bool quiet = false;             // --quiet
    bool help = false;              // --help
    bool version = false;           // --version
    bool versionInfo = false;       // --version-info: print each file's version instead
    std::string mask = kDefaultMask; // --mask MASK: the files a folder search takes
    bool noSubfolders = false;      // --no-subfolders
    bool allDrives = false;         // --all-drives: every fixed drive instead of PATHs
    bool png = false;               // --png: every image also as a PNG file
    bool gallery = false;           // --gallery: index.html showing everything in the destination
    std::vector<std::string> files; // PATH...: program files and folders
};

// Parses argv[1..]. Returns false with a message in error on bad usage.
bool ParseOptions(int argc, char** argv, CliOptions& out, std::string& error);

// "bitmap,icon" -> the selection; false on an unknown or empty name.
bool ParseTypeList(const std::string& list, engine::ResTypes& out, std::string& error);

// The --types name of a kind: "bitmap", "icon" ...
const char* TypeName(int kind);

std::string UsageText();

}  // namespace cli
