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
#include "search/cSearchCore.h"

namespace cli {

// Counts ResFound calls per kind; after Ctrl-C stops a file between two
// resources.
class CountingOwner : public engine::IResOwner {
public:
    void ResFound(int32_t& ResType, engine::ResName& Name) override;
    void Idle(engine::VBBool& Cancel) override;
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
    std::size_t filesMissing = 0;  // PATHs that named nothing: not every file was scanned
    std::size_t filesUnreadable = 0;  // files that could not be opened or read
    std::size_t foldersSkipped = 0;   // folders the walk could not enter
};

// Creates dest (its parent must exist) and the folder of every selected
// kind, keeping those that exist. False with a message in error otherwise.
bool PrepareDestination(const std::string& dest, const engine::ResTypes& types, std::string& error);

// Scans one program file into the run's destination, with progress unless
// quiet. Returns false when a write error stopped the file.
bool ExtractOneFile(ExtractRun& run, const std::string& path);
// The same without the progress line.
bool ScanFile(ExtractRun& run, const std::string& path);

// The progress line of a counted folder search: the percentage from the
// folder count in steps of 2 %, files scanned, resources per kind and the
// remaining time once known. In a terminal it rewrites itself (at most ten
// times a second); otherwise a plain line is written each time the
// percentage moves, so a log gets at most 50 of them.
class ProgressLine {
public:
    ProgressLine(std::FILE* out, bool terminal, std::size_t width = 80);
    // totalDirs 0: no percentage is shown.
    void Begin(int32_t totalDirs, uint32_t startTicks);
    // After each file; dirsDone counts the directory entries met so far.
    void Update(const ExtractRun& run, int32_t dirsDone, uint32_t nowTicks);
    // At the end of a complete search: 100 %, no remaining time.
    void Finish(const ExtractRun& run);
    // Ends a terminal line so that other output starts on a line of its own.
    void Break();
    std::string Text(const ExtractRun& run) const;
    void ShowStatus(const std::string& text);  // terminal only: "Counting folders..."

private:
    void Draw(const std::string& text);

    std::FILE* out_;
    bool terminal_;
    std::size_t width_;
    int32_t total_ = 0;
    uint32_t start_ = 0;
    int value_ = 0;           // 0 to 50, as the wizard's bar
    std::string remaining_;   // "Remaining time: ..." or empty
    bool lineOpen_ = false;   // terminal: something is on the current line
    bool drawnOnce_ = false;
    uint32_t lastDraw_ = 0;
};

// Receives the search events: every file found goes to the engine. Sets
// Cancel once Ctrl-C was pressed, between files or at the walk's Idle.
class FolderSearch : public search::ISearchEvents {
public:
    FolderSearch(ExtractRun& run, ProgressLine* progress, int32_t dirOffset)
        : run_(run), progress_(progress), dirOffset_(dirOffset) {}
    void FileFound(std::string& FileName, int32_t& FileCount, int32_t& DirCount, search::VBBool& Cancel) override;
    void SearchFinished() override { finished = true; }
    void Idle(search::VBBool& Cancel) override;
    bool finished = false;

private:
    ExtractRun& run_;
    ProgressLine* progress_;
    int32_t dirOffset_;
};

// Ctrl-C, SIGTERM and SIGHUP: the handler only notes the signal and stops
// the armed search object's walk or count; a second one ends the program at
// once. The command then ends with status 128 + the signal's number.
void InstallInterruptHandler();
// The search object Ctrl-C stops; nullptr disarms.
void ArmInterrupt(search::cSearchCore* core);
bool Interrupted();
int InterruptSignal();  // SIGINT, SIGTERM or SIGHUP; 0 when none came
void SetInterrupted(bool on);  // for tests

// One line per selected kind, in kind order: "Icon: 3".
void PrintSummary(const ExtractRun& run, std::FILE* out);

// "PNG images: N"; the images that could not be decoded go to stderr, with
// the first files holding them. False when there were some.
bool ReportPngs(std::FILE* out);
// Writes the gallery page into dest and names it ("Gallery page: PATH (N
// resources)"); false, said on stderr, when it could not be written.
bool WriteGallery(const std::string& dest, std::FILE* out);

// "FILE: 1.2.3.4" per file, or "FILE: no version information". Returns 0
// when every file had one, else 1.
int PrintVersionInfo(const std::vector<std::string>& files, std::FILE* out);

// The whole command; returns the exit code (0 ok, 1 a file or folder not
// done, 2 usage, 128 + the signal's number when stopped by one).
int RunExtractCommand(int argc, char** argv);

}  // namespace cli
