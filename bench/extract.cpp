// Extraction speed on real modules, side by side with icoutils' wrestool on
// the same files.
//
//   bench_extract [DIR...] [--limit N]
//
// DIR defaults to libwine's 64-bit modules and Wine's fonts (16-bit NE
// modules). The engine runs in this process
// (best of three rounds); wrestool runs once per module, as it is used. Both
// write into a temporary folder that is removed at the end.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ResTypes.h"
#include "engine/mResCore.h"
#include "platform/system/MessageBox.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

class Quiet : public platform::IMessageBoxService {
public:
    platform::MsgResult Show(const std::string&, platform::MsgButtons b, platform::MsgIcon) override {
        return b == platform::MsgButtons::OK ? platform::MsgResult::OK : platform::MsgResult::Cancel;
    }
};

class Counter : public engine::IResOwner {
public:
    void ResFound(int32_t&, engine::ResName&) override { ++found; }
    long found = 0;
};

struct Output {
    long files = 0;
    uint64_t bytes = 0;
};

Output Measure(const fs::path& dir) {
    Output o;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && e.path().filename() != "__index.txt") {
            ++o.files;
            o.bytes += e.file_size();
        }
    return o;
}

struct Result {
    const char* tool = "";
    const char* kinds = "";
    double seconds = 0;
    Output out;
    long peakKb = 0;
};

double RunEngine(const std::vector<std::string>& files, const engine::ResTypes& types, const fs::path& dest) {
    fs::create_directories(dest);
    for (int k = 0; k < engine::kResKindCount; ++k)
        if (types[k]) fs::create_directory(dest / engine::kKinds[k].folder);
    Counter owner;
    const auto start = Clock::now();
    for (const auto& f : files) {
        std::string path = f;
        engine::ExtractResources(path, types, &owner, dest.string());
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// types: one wrestool run per module and type ("2", "14", "12"); empty:
// one run per module taking every type.
double RunWrestool(const std::string& tool, const std::vector<std::string>& files, const fs::path& dest,
                   const std::vector<std::string>& types) {
    fs::create_directories(dest);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string out = dest.string();
    const auto start = Clock::now();
    std::vector<std::string> typeArgs;
    for (const auto& t : types) typeArgs.push_back("--type=" + t);
    if (typeArgs.empty()) typeArgs.push_back("-x");  // stands in for "no type"
    for (const auto& f : files)
        for (const auto& t : typeArgs) {
            std::vector<char*> argv{const_cast<char*>(tool.c_str()), const_cast<char*>("-x"), const_cast<char*>("-o"),
                                    const_cast<char*>(out.c_str()), const_cast<char*>(t.c_str()),
                                    const_cast<char*>(f.c_str()), nullptr};
            pid_t pid;
            if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ) != 0) continue;
            int status;
            waitpid(pid, &status, 0);
        }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return s;
}

long PeakKb(int who) {
    rusage ru{};
    getrusage(who, &ru);
    return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> corpora;
    std::size_t limit = SIZE_MAX;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--limit") && i + 1 < argc)
            limit = std::strtoul(argv[++i], nullptr, 10);
        else
            corpora.push_back(argv[i]);
    }
    if (corpora.empty()) corpora = {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/share/wine/fonts"};
    std::string corpus;
    for (const auto& c : corpora) corpus += (corpus.empty() ? "" : " ") + c;
    std::vector<std::string> files;
    uint64_t inBytes = 0;
    std::error_code ec;
    for (const auto& dir : corpora)
        for (const auto& e : fs::directory_iterator(dir, ec)) {
            std::string ext = e.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
            if (e.is_regular_file() && (ext == ".dll" || ext == ".exe" || ext == ".fon"))
                files.push_back(e.path().string());
        }
    if (files.empty()) {
        std::printf("bench_extract: no modules in %s (install libwine or name a folder)\n", corpus.c_str());
        return 0;
    }
    std::sort(files.begin(), files.end());
    if (files.size() > limit) files.resize(limit);
    for (const auto& f : files) inBytes += fs::file_size(f);

    char tmpl[] = "/tmp/lv-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const fs::path root = tmpl;
    Quiet quiet;
    platform::SetMessageBoxService(&quiet);

    engine::ResTypes shared, all;
    shared.Bitmap = shared.Icon = shared.Cursor = engine::kTrue;
    for (int k = 0; k < engine::kResKindCount; ++k) all[k] = engine::kTrue;

    // One untimed pass, so that neither side pays for a cold page cache.
    RunEngine(files, all, root / "warm-up");
    fs::remove_all(root / "warm-up");

    std::vector<Result> results;
    for (auto [types, label] : {std::pair{shared, "bitmap,icon,cursor"}, std::pair{all, "all six"}}) {
        Result r;
        r.tool = "loomvale";
        r.kinds = label;
        r.seconds = 1e30;
        for (int round = 0; round < 3; ++round) {
            const fs::path dest = root / ("ours-" + std::to_string(round));
            r.seconds = std::min(r.seconds, RunEngine(files, types, dest));
            r.out = Measure(dest);
            fs::remove_all(dest);
        }
        r.peakKb = PeakKb(RUSAGE_SELF);
        results.push_back(r);
    }

    const std::string wrestool = "/usr/bin/wrestool";
    const bool haveWrestool = access(wrestool.c_str(), X_OK) == 0;
    if (haveWrestool) {
        for (auto [types, label] : {std::pair{std::vector<std::string>{}, "every type"},
                                    std::pair{std::vector<std::string>{"2", "14", "12"}, "bitmap,icon,cursor"}}) {
            Result r;
            r.tool = "wrestool -x";
            r.kinds = label;
            const fs::path dest = root / "wrestool";
            r.seconds = RunWrestool(wrestool, files, dest, types);
            r.out = Measure(dest);
            r.peakKb = PeakKb(RUSAGE_CHILDREN);
            results.push_back(r);
            fs::remove_all(dest);
        }
    }

    // The module with the most bitmaps, extracted four times into one
    // destination. Between runs the folder's time is moved, as another
    // process would: the remembered names are dropped, each run starts
    // from a fresh count like a new batch command.
    std::vector<double> repeated;
    long repeatedFiles = 0;
    const fs::path many = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/light.msstyles";
    if (fs::exists(many)) {
        engine::ResTypes bitmaps;
        bitmaps.Bitmap = engine::kTrue;
        const fs::path dest = root / "repeated";
        for (int run = 0; run < 4; ++run) {
            if (run) fs::last_write_time(dest / "Bitmaps", fs::last_write_time(dest / "Bitmaps") - std::chrono::hours(1));
            repeated.push_back(RunEngine({many.string()}, bitmaps, dest));
        }
        repeatedFiles = Measure(dest).files;
    }
    fs::remove_all(root);

    const double mb = inBytes / 1e6;
    std::printf("corpus: %zu modules, %.1f MB, in %s\n\n", files.size(), mb, corpus.c_str());
    std::printf("%-12s %-19s %8s %9s %10s %10s %9s %9s %9s\n", "tool", "kinds", "seconds", "in MB/s", "modules/s",
                "written", "out MB", "files/s", "peak MB");
    for (const auto& r : results)
        std::printf("%-12s %-19s %8.3f %9.0f %10.0f %10ld %9.2f %9.0f %9.1f\n", r.tool, r.kinds, r.seconds,
                    mb / r.seconds, files.size() / r.seconds, r.out.files, r.out.bytes / 1e6, r.out.files / r.seconds,
                    r.peakKb / 1024.0);
    if (haveWrestool)
        std::printf("\nspeed-up over wrestool on bitmaps, icons and cursors: %.1fx\n",
                    results.back().seconds / results.front().seconds);
    else
        std::printf("\nwrestool (icoutils) not installed: no comparison\n");
    if (!repeated.empty()) {
        std::printf("\n%s extracted 4 times into one folder (%ld bitmaps in all), seconds per run:", many.c_str(),
                    repeatedFiles);
        for (double s : repeated) std::printf(" %.3f", s);
        std::printf("\n4th run / 1st run: %.2f\n", repeated.back() / repeated.front());
    }
    return 0;
}
