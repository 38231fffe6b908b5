#include "cli/CliRun.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "controls/cFileVersion.h"
#include "engine/mResCore.h"
#include "platform/system/MessageBox.h"
#include "platform/fs/PathUtil.h"
#include "search/RunProgress.h"
#include "platform/text/TimeInterval.h"
#include "engine/GalleryPage.h"
#include "platform/text/VisibleText.h"

namespace cli {

void CountingOwner::ResFound(int32_t& ResType, engine::ResName&) {
    if (ResType >= 0 && ResType < engine::kResKindCount) ++counts[ResType];
}

void CountingOwner::Idle(engine::VBBool& Cancel) {
    if (Interrupted()) Cancel = engine::kTrue;
}

namespace {

bool MakeFolder(const std::string& path, std::string& error) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    const int err = errno;
    if (err == EEXIST && platform::PathIsDirectoryA(path)) return true;
    error = "cannot create folder '" + path + "': " + (err == EEXIST ? "a file is in the way" : std::strerror(err));
    return false;
}

}  // namespace

bool PrepareDestination(const std::string& dest, const engine::ResTypes& types, std::string& error) {
    std::string root = dest;
    while (root.size() > 1 && root.back() == platform::kPathSep) root.pop_back();
    if (!MakeFolder(root, error)) return false;
    const std::string base = platform::AddBackslash(root);
    for (int k = 0; k < engine::kResKindCount; ++k)
        if (types[k] && !MakeFolder(base + engine::kKinds[k].folder, error)) return false;
    return true;
}

bool ExtractOneFile(ExtractRun& run, const std::string& path) {
    // Names are printed with their control characters escaped: one holding
    // an escape sequence would otherwise rewrite the terminal.
    const std::string shown = platform::VisibleText(path);
    if (!run.quiet) {
        if (run.filesTotal)
            std::fprintf(stderr, "[%zu/%zu] %s\n", run.filesDone + run.filesMissing + 1, run.filesTotal, shown.c_str());
        else
            std::fprintf(stderr, "[%zu] %s\n", run.filesDone + run.filesMissing + 1, shown.c_str());
    }
    return ScanFile(run, path);
}

bool ScanFile(ExtractRun& run, const std::string& path) {
    std::string file = path;
    const bool stopped = engine::ExtractResources(file, run.types, &run.owner, run.dest);
    if (const int err = engine::LastReadError(); err != 0) {
        // Not scanned: said on its own line, whatever the progress shows.
        const std::string shown = platform::VisibleText(path);
        const bool missing = err == ENOENT || err == ENOTDIR;
        std::fprintf(stderr, "loomvale-extract: %s: %s\n", shown.c_str(),
                     missing ? "no such file" : ("cannot be read: " + std::string(std::strerror(err))).c_str());
        ++(missing ? run.filesMissing : run.filesUnreadable);
        return true;
    }
    ++run.filesDone;
    if (stopped) run.writeErrors = true;
    return !stopped;
}

// ---- Ctrl-C ---------------------------------------------------------------

namespace {
volatile std::sig_atomic_t g_interrupted = 0;  // the signal's number
// Armed for the whole search: the handler stops the count or the walk at its
// next entry, also when no file matches and no event would ask.
search::cSearchCore* volatile g_armed = nullptr;
extern "C" void OnInterrupt(int signal) {
    g_interrupted = signal;
    if (search::cSearchCore* core = g_armed) core->StopWalk();
}
}  // namespace

void ArmInterrupt(search::cSearchCore* core) { g_armed = core; }

void InstallInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    // Restart interrupted reads and writes, so no file is cut short; the
    // handler goes back to the default after one signal, so a second one
    // ends the program at once.
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &sa, nullptr);
}

bool Interrupted() { return g_interrupted != 0; }
int InterruptSignal() { return g_interrupted; }
void SetInterrupted(bool on) { g_interrupted = on ? SIGINT : 0; }

// ---- Progress line ----------------------------------------------------------

ProgressLine::ProgressLine(std::FILE* out, bool terminal, std::size_t width)
    : out_(out), terminal_(terminal), width_(std::max<std::size_t>(width, 20)) {}

void ProgressLine::Begin(int32_t totalDirs, uint32_t startTicks) {
    total_ = totalDirs;
    start_ = startTicks;
    value_ = 0;
    remaining_.clear();
}

std::string ProgressLine::Text(const ExtractRun& run) const {
    std::string text;
    if (total_ > 0) text = std::to_string(value_ * 2) + "% | ";
    text += std::to_string(run.filesDone) + (run.filesDone == 1 ? " file" : " files");
    const char* sep = " | ";
    for (int k = 0; k < engine::kResKindCount; ++k) {
        if (!run.types[k]) continue;
        text += sep;
        text += TypeName(k);
        text += ' ';
        text += std::to_string(run.owner.counts[k]);
        sep = ", ";
    }
    if (!remaining_.empty()) text += " | " + remaining_;
    return text;
}

void ProgressLine::Update(const ExtractRun& run, int32_t dirsDone, uint32_t nowTicks) {
    int value = 0;
    bool moved = false;
    // As on the wizard's bar: the line moves in steps of 2 %, and only then
    // is the estimate worked out again.
    if (search::ProgressValue(dirsDone, total_, value) && value != value_ && value <= 50) {
        value_ = value;
        moved = true;
        int32_t estimate = 0;
        const int32_t elapsed = static_cast<int32_t>(nowTicks - start_);
        // As on the wizard's status: an estimate of 10 s or less keeps the last one shown.
        if (search::RemainingEstimate(total_, dirsDone, elapsed, estimate))
            remaining_ = "Remaining time: " + platform::TimeIntervalText(static_cast<uint32_t>(estimate), 3);
    }
    if (terminal_) {
        if (moved || !drawnOnce_ || nowTicks - lastDraw_ >= 100) {
            Draw(Text(run));
            lastDraw_ = nowTicks;
            drawnOnce_ = true;
        }
    } else if (moved) {
        std::fprintf(out_, "%s\n", Text(run).c_str());
        std::fflush(out_);
    }
}

void ProgressLine::Finish(const ExtractRun& run) {
    // The last folders may hold no match, so no file moved the line there.
    const bool moved = total_ > 0 && value_ != 50;
    value_ = 50;
    remaining_.clear();
    if (terminal_ ? drawnOnce_ || moved : moved) {
        if (terminal_) Draw(Text(run));
        else std::fprintf(out_, "%s\n", Text(run).c_str());
        std::fflush(out_);
    }
}

void ProgressLine::ShowStatus(const std::string& text) {
    if (terminal_) Draw(text);
}

void ProgressLine::Draw(const std::string& text) {
    // Cut to the terminal's width: a wrapped line cannot be rewritten.
    const std::string shown = text.substr(0, width_ - 1);
    std::fprintf(out_, "\r%s\033[K", shown.c_str());
    std::fflush(out_);
    lineOpen_ = true;
}

void ProgressLine::Break() {
    if (terminal_ && lineOpen_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    lineOpen_ = false;
}

void FolderSearch::FileFound(std::string& FileName, int32_t&, int32_t& DirCount, search::VBBool& Cancel) {
    if (Interrupted()) {
        Cancel = search::kTrue;
        return;
    }
    if (progress_) {
        ScanFile(run_, FileName);
        progress_->Update(run_, dirOffset_ + DirCount, platform::GetTickCount());
    } else {
        ExtractOneFile(run_, FileName);
    }
    if (Interrupted()) Cancel = search::kTrue;
}

void FolderSearch::Idle(search::VBBool& Cancel) {
    if (Interrupted()) Cancel = search::kTrue;
}

void PrintSummary(const ExtractRun& run, std::FILE* out) {
    for (int k = 0; k < engine::kResKindCount; ++k)
        if (run.types[k]) std::fprintf(out, "%s: %ld\n", engine::kKinds[k].label, run.owner.counts[k]);
}

bool ReportPngs(std::FILE* out) {
    const engine::PngTally& pngs = engine::PngImagesTally();
    std::fprintf(out, "PNG images: %llu\n", static_cast<unsigned long long>(pngs.written));
    if (pngs.missed == 0) return true;
    std::fprintf(stderr, "loomvale-extract: %llu %s could not be decoded and %s no PNG file:\n",
                 static_cast<unsigned long long>(pngs.missed), pngs.missed == 1 ? "image" : "images",
                 pngs.missed == 1 ? "has" : "have");
    for (const auto& f : pngs.missedIn) std::fprintf(stderr, "  %s\n", platform::VisibleText(f).c_str());
    if (pngs.missedIn.size() == 100) std::fprintf(stderr, "  ...\n");
    return false;
}

bool WriteGallery(const std::string& dest, std::FILE* out) {
    engine::GalleryPage page;
    const platform::FileError e = engine::WriteGalleryPage(dest, page);
    if (e.number) {
        std::fprintf(stderr, "loomvale-extract: the gallery page could not be written in %s: %s\n",
                     platform::VisibleText(dest).c_str(), platform::VisibleText(e.description).c_str());
        return false;
    }
    std::fprintf(out, "Gallery page: %s (%zu %s)\n", platform::VisibleText(page.path).c_str(), page.items,
                 page.items == 1 ? "resource" : "resources");
    return true;
}

int PrintVersionInfo(const std::vector<std::string>& files, std::FILE* out) {
    int status = 0;
    for (const auto& f : files) {
        cFileVersion version;
        const std::string name = platform::VisibleText(f);
        if (version.OpenFile(f) != 0) {
            std::fprintf(out, "%s: %s\n", name.c_str(), platform::VisibleText(version.FileVersion()).c_str());
        } else {
            std::fprintf(out, "%s: no version information\n", name.c_str());
            status = 1;
        }
    }
    return status;
}

int RunExtractCommand(int argc, char** argv) {
    CliOptions opts;
    std::string error;
    if (!ParseOptions(argc, argv, opts, error)) {
        std::fprintf(stderr, "loomvale-extract: %s\n%s", platform::VisibleText(error).c_str(), UsageText().c_str());
        return 2;
    }
    if (opts.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (opts.version) {
        std::puts("loomvale-extract " LOOMVALE_VERSION);
        return 0;
    }
    if (opts.versionInfo) return PrintVersionInfo(opts.files, stdout);
    InstallInterruptHandler();
    if (!PrepareDestination(opts.dest, opts.types, error)) {
        std::fprintf(stderr, "loomvale-extract: %s\n", platform::VisibleText(error).c_str());
        return 2;
    }
    // Message boxes become lines on stderr; a full disk is answered Cancel.
    static platform::StderrMessageBox box;
    platform::SetMessageBoxService(&box);

    engine::SetPngImages(opts.png);
    ExtractRun run;
    run.dest = opts.dest;
    run.types = opts.types;
    run.quiet = opts.quiet;

    std::vector<bool> isFolder;
    bool anyFolder = opts.allDrives;
    for (const auto& f : opts.files) {
        isFolder.push_back(platform::PathIsDirectoryA(f));
        anyFolder = anyFolder || isFolder.back();
    }
    if (!anyFolder) run.filesTotal = opts.files.size();

    // Progress is measured in folders, counted before any file is scanned.
    search::cSearchCore core;
    search::VBBool recurse = opts.noSubfolders ? search::kFalse : search::kTrue;
    const bool counted = opts.allDrives || (anyFolder && recurse);
    std::vector<int32_t> dirCounts(opts.files.size(), 0);
    int64_t totalDirs = 0;
    const bool terminal = ::isatty(::fileno(stderr)) == 1;
    std::size_t width = 80;
    if (winsize ws{}; terminal && ::ioctl(::fileno(stderr), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) width = ws.ws_col;
    ProgressLine progress(stderr, terminal, width);
    // Armed before anything is counted, so no Ctrl-C falls between the two.
    ArmInterrupt(&core);
    if (counted) {
        if (!run.quiet) progress.ShowStatus("Counting folders...");
        FolderSearch counting(run, nullptr, 0);
        core.SetEvents(&counting);
        if (opts.allDrives) {
            totalDirs = core.GetDirCount(search::kTrue, "/");
        } else {
            for (std::size_t i = 0; i < opts.files.size() && !Interrupted(); ++i)
                if (isFolder[i]) totalDirs += dirCounts[i] = core.GetDirCount(search::kFalse, opts.files[i]);
        }
        core.SetEvents(nullptr);
        progress.Begin(static_cast<int32_t>(std::min<int64_t>(totalDirs, INT32_MAX)), platform::GetTickCount());
    }
    ProgressLine* shown = counted && !run.quiet ? &progress : nullptr;

    // Folders too deep to enter are said once per search, never passed over quietly.
    const auto noteSkipped = [&](const std::string& where) {
        const int32_t skipped = core.FoldersNotEntered();
        if (skipped == 0) return;
        run.foldersSkipped += static_cast<std::size_t>(skipped);
        progress.Break();
        std::fprintf(stderr, "loomvale-extract: %s: %d %s nested too deeply to be searched (more than 2048 levels)\n",
                     platform::VisibleText(where).c_str(), skipped, skipped == 1 ? "folder is" : "folders are");
    };
    int64_t dirOffset = 0;
    if (opts.allDrives && !Interrupted()) {
        FolderSearch receiver(run, shown, 0);
        core.SetEvents(&receiver);
        core.SearchSystemForFiles(opts.mask);
        core.SetEvents(nullptr);
        noteSkipped("all drives");
    }
    for (std::size_t i = 0; i < opts.files.size() && !Interrupted(); ++i) {
        if (!isFolder[i]) {
            progress.Break();
            ExtractOneFile(run, opts.files[i]);
            continue;
        }
        FolderSearch receiver(run, shown, static_cast<int32_t>(std::min<int64_t>(dirOffset, INT32_MAX)));
        core.SetEvents(&receiver);
        core.SearchForFiles(opts.files[i], recurse, opts.mask);
        core.SetEvents(nullptr);
        noteSkipped(opts.files[i]);
        dirOffset += dirCounts[i];
    }
    ArmInterrupt(nullptr);
    if (shown && !Interrupted()) progress.Finish(run);
    progress.Break();
    if (!run.quiet) {
        if (anyFolder)
            std::fprintf(stderr, "%zu %s scanned", run.filesDone, run.filesDone == 1 ? "file" : "files");
        else
            std::fprintf(stderr, "%zu of %zu files done", run.filesDone, run.filesTotal);
        if (run.filesMissing) std::fprintf(stderr, ", %zu not found", run.filesMissing);
        if (run.filesUnreadable) std::fprintf(stderr, ", %zu unreadable", run.filesUnreadable);
        std::fputc('\n', stderr);
    }
    if (Interrupted()) std::fprintf(stderr, "loomvale-extract: interrupted\n");
    PrintSummary(run, stdout);
    if (Interrupted()) return 128 + InterruptSignal();
    bool failed = run.writeErrors || run.filesMissing || run.filesUnreadable || run.foldersSkipped;
    if (opts.png) failed |= !ReportPngs(stdout);
    if (opts.gallery) failed |= !WriteGallery(opts.dest, stdout);
    return failed ? 1 : 0;
}

}  // namespace cli
