// Command-line options of loomvale-extract. Every option is one row of the
// table in CliOptions.cpp; add a row (and a field here) to add an option.
#pragma once

#include <string>
#include <vector>

#include "engine/ResTypes.h"

namespace cli {

struct CliOptions {
    std::string dest;               // --dest DIR
    engine::ResTypes types;         // --types LIST (default: all kinds)
    bool quiet = false;             // --quiet
    bool help = false;              // --help
    bool versionInfo = false;       // --version-info: print each file's version instead
    std::vector<std::string> files; // FILE...
};

// Parses argv[1..]. Returns false with a message in error on bad usage.
bool ParseOptions(int argc, char** argv, CliOptions& out, std::string& error);

// "bitmap,icon" -> the selection; false on an unknown or empty name.
bool ParseTypeList(const std::string& list, engine::ResTypes& out, std::string& error);

std::string UsageText();

}  // namespace cli
