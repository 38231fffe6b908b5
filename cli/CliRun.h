// One run of loomvale-extract: the destination tree, the per-file
// extraction, the counts and the closing summary.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "engine/ResTypes.h"

namespace cli {

// Counts ResFound calls per kind.
class CountingOwner : public engine::IResOwner {
public:
    void ResFound(int32_t& ResType, engine::ResName& Name) override;
    std::array<long, engine::kResKindCount> counts{};
};

struct ExtractRun {
    std::string dest;
    engine::ResTypes types;
    bool quiet = false;
    CountingOwner owner;
    std::size_t filesDone = 0;
    std::size_t filesTotal = 0;  // for progress; 0 when not known in advance
    bool writeErrors = false;    // a write error stopped at least one file
};

// Creates dest (its parent must exist) and the folder of every selected
// kind, keeping those that exist. False with a message in error otherwise.
bool PrepareDestination(const std::string& dest, const engine::ResTypes& types, std::string& error);

// Scans one program file into the run's destination, with progress unless
// quiet. Returns false when a write error stopped the file.
bool ExtractOneFile(ExtractRun& run, const std::string& path);

// One line per selected kind, in kind order: "Icon: 3".
void PrintSummary(const ExtractRun& run, std::FILE* out);

// "FILE: 1.2.3.4" per file, or "FILE: no version information". Returns 0
// when every file had one, else 1.
int PrintVersionInfo(const std::vector<std::string>& files, std::FILE* out);

// The whole command; returns the exit code (0 ok, 1 write error, 2 usage).
int RunExtractCommand(int argc, char** argv);

}  // namespace cli
