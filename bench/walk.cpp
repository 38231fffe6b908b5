// The folder walk against find(1) and fd (fd-find, parallel): over one
// large tree, times the folder count and a search with the default mask (the
// walk alone, nothing extracted), `find TREE -xdev -type f` with the same
// name tests and `fdfind -u --one-file-system -e exe . TREE`, after a warm-up run of each, and
// prints min and median of each, the ratios fd/ours for the whole search
// the user waits for (count + walk), and the longest time the count or the
// search went without an Idle event. With --cold the page cache is dropped
// before each timed run (needs root).
//
//   bench_walk [--cold] [TREE] [RUNS]        (default /usr, 5 runs)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "search/cSearchCore.h"

extern char** environ;

namespace {

constexpr const char* kMask = "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx";
constexpr const char* kExtensions[] = {"exe", "dll", "ocx", "cpl", "scr", "vbx"};

// Also measures the longest time the walk went without an Idle event.
class CountFiles : public search::ISearchEvents {
public:
    void FileFound(std::string&, int32_t& FileCount, int32_t&, search::VBBool&) override { files = FileCount; }
    void SearchFinished() override { Tick(); }
    void Idle(search::VBBool&) override { Tick(); }
    void Start() { last_ = std::chrono::steady_clock::now(); }
    int32_t files = 0;
    double longestGap = 0;  // seconds

private:
    void Tick() {
        const auto now = std::chrono::steady_clock::now();
        longestGap = std::max(longestGap, std::chrono::duration<double>(now - last_).count());
        last_ = now;
    }
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

std::vector<std::string> FindArgs(const std::string& tree) {
    std::vector<std::string> args{"find", tree, "-xdev", "-type", "f", "("};
    bool first = true;
    for (const char* ext : kExtensions) {
        if (!first) args.push_back("-o");
        first = false;
        args.push_back("-iname");
        args.push_back(std::string("*.") + ext);
    }
    args.push_back(")");
    return args;
}

// Runs find with its output going to outFd (or /dev/null); false when it failed.
bool RunFind(const std::vector<std::string>& args, int outFd = -1) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&fa, outFd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    // find answers 1 when some folder could not be read; that still is a full walk.
    return WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}

long FindMatches(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    long lines = 0;
    // The counting reader runs in this process while find writes.
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        _exit(RunFind(args, fds[1]) ? 0 : 1);
    }
    close(fds[1]);
    char buf[65536];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) lines += std::count(buf, buf + n, '\n');
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return lines;
}

double Seconds(const std::function<void()>& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

// Drops the page cache, dentries and inodes, so the next walk reads the disk.
bool DropCaches() {
    sync();
    FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!f) return false;
    const bool ok = std::fputs("3\n", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

struct Times {
    std::vector<double> v;
    double Min() const { return *std::min_element(v.begin(), v.end()); }
    double Med() const { return Median(v); }
};

int main(int argc, char** argv) {
    int arg = 1;
    const bool cold = argc > arg && std::string(argv[arg]) == "--cold";
    if (cold) ++arg;
    const std::string tree = argc > arg ? argv[arg] : "/usr";
    const int runs = argc > arg + 1 ? std::max(1, std::atoi(argv[arg + 1])) : 5;
    const auto findArgs = FindArgs(tree);
    const std::vector<std::string> fdArgs{"fdfind", "-u", "--one-file-system", "-e", "exe", ".", tree};
    const bool haveFd = RunFind(fdArgs);

    search::cSearchCore core;
    CountFiles counter;
    core.SetEvents(&counter);
    std::string mask = kMask;
    search::VBBool recurse = search::kTrue;

    // Warm-up: brings the tree into the cache and checks that both walks agree.
    const int32_t dirs = core.GetDirCount(search::kFalse, tree);
    core.SearchForFiles(tree, recurse, mask);
    const long found = FindMatches(findArgs);
    if (found < 0 || !RunFind(findArgs)) {
        std::fprintf(stderr, "bench_walk: cannot run find\n");
        return 1;
    }
    if (cold && !DropCaches()) {
        std::fprintf(stderr, "bench_walk: cannot drop the caches (--cold needs root)\n");
        return 1;
    }
    std::printf("tree %s (%s): %d directory entries counted, %d files match (find: %ld)%s\n", tree.c_str(),
                cold ? "cold" : "warm", dirs, counter.files, found, haveFd ? "" : "; fdfind not found");

    counter.longestGap = 0;  // the timed runs only
    Times tCount, tSearch, tOurs, tFind, tFd;
    const auto timed = [&](Times& t, const std::function<void()>& work) {
        if (cold) DropCaches();
        t.v.push_back(Seconds(work));
    };
    for (int i = 0; i < runs; ++i) {
        if (cold) DropCaches();
        counter.Start();
        const auto t0 = std::chrono::steady_clock::now();
        tCount.v.push_back(Seconds([&] { core.GetDirCount(search::kFalse, tree); }));
        counter.Start();
        tSearch.v.push_back(Seconds([&] { core.SearchForFiles(tree, recurse, mask); }));
        tOurs.v.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        timed(tFind, [&] { RunFind(findArgs); });
        if (haveFd) timed(tFd, [&] { RunFind(fdArgs); });
        std::printf("run %d: count %.3f s + search %.3f s = %.3f s, find %.3f s, fd %.3f s\n", i + 1,
                    tCount.v.back(), tSearch.v.back(), tOurs.v.back(), tFind.v.back(), haveFd ? tFd.v.back() : 0.0);
    }
    std::printf("min/median of %d: count %.3f/%.3f s, search %.3f/%.3f s, ours %.3f/%.3f s, find %.3f/%.3f s",
                runs, tCount.Min(), tCount.Med(), tSearch.Min(), tSearch.Med(), tOurs.Min(), tOurs.Med(), tFind.Min(),
                tFind.Med());
    if (haveFd) std::printf(", fd %.3f/%.3f s", tFd.Min(), tFd.Med());
    std::printf("\nratio find/ours %.2f (median)", tFind.Med() / tOurs.Med());
    if (haveFd) std::printf(", fd/ours %.2f (median), %.2f (min) (target >= 1.00)", tFd.Med() / tOurs.Med(),
                            tFd.Min() / tOurs.Min());
    std::printf("\nlongest time without an Idle event: %.1f ms (target <= 50)\n", counter.longestGap * 1000);
    return 0;
}
