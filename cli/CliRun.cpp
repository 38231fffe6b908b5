#include "cli/CliRun.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "controls/cFileVersion.h"
#include "engine/mResCore.h"
#include "platform/MessageBox.h"
#include "platform/PathUtil.h"

namespace cli {

void CountingOwner::ResFound(int32_t& ResType, engine::ResName&) {
    if (ResType >= 0 && ResType < engine::kResKindCount) ++counts[ResType];
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
    if (!run.quiet) {
        if (run.filesTotal)
            std::fprintf(stderr, "[%zu/%zu] %s\n", run.filesDone + 1, run.filesTotal, path.c_str());
        else
            std::fprintf(stderr, "[%zu] %s\n", run.filesDone + 1, path.c_str());
    }
    if (!platform::PathFileExistsA(path)) std::fprintf(stderr, "loomvale-extract: %s: no such file\n", path.c_str());
    std::string file = path;
    const bool stopped = engine::ExtractResources(file, run.types, &run.owner, run.dest);
    ++run.filesDone;
    if (stopped) run.writeErrors = true;
    return !stopped;
}

void PrintSummary(const ExtractRun& run, std::FILE* out) {
    for (int k = 0; k < engine::kResKindCount; ++k)
        if (run.types[k]) std::fprintf(out, "%s: %ld\n", engine::kKinds[k].label, run.owner.counts[k]);
}

int PrintVersionInfo(const std::vector<std::string>& files, std::FILE* out) {
    int status = 0;
    for (const auto& f : files) {
        cFileVersion version;
        if (version.OpenFile(f) != 0) {
            std::fprintf(out, "%s: %s\n", f.c_str(), version.FileVersion().c_str());
        } else {
            std::fprintf(out, "%s: no version information\n", f.c_str());
            status = 1;
        }
    }
    return status;
}

int RunExtractCommand(int argc, char** argv) {
    CliOptions opts;
    std::string error;
    if (!ParseOptions(argc, argv, opts, error)) {
        std::fprintf(stderr, "loomvale-extract: %s\n%s", error.c_str(), UsageText().c_str());
        return 2;
    }
    if (opts.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (opts.versionInfo) return PrintVersionInfo(opts.files, stdout);
    if (!PrepareDestination(opts.dest, opts.types, error)) {
        std::fprintf(stderr, "loomvale-extract: %s\n", error.c_str());
        return 2;
    }
    // Message boxes become lines on stderr; a full disk is answered Cancel.
    static platform::StderrMessageBox box;
    platform::SetMessageBoxService(&box);

    ExtractRun run;
    run.dest = opts.dest;
    run.types = opts.types;
    run.quiet = opts.quiet;
    run.filesTotal = opts.files.size();
    for (const auto& f : opts.files) ExtractOneFile(run, f);
    if (!run.quiet) std::fprintf(stderr, "%zu of %zu files done\n", run.filesDone, run.filesTotal);
    PrintSummary(run, stdout);
    return run.writeErrors ? 1 : 0;
}

}  // namespace cli
