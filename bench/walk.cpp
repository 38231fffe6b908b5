// The folder walk against find(1): over one large tree, times the folder
// count, a search with the default mask (the walk alone, nothing extracted)
// and `find TREE -xdev -type f` with the same name tests, after a warm-up
// run of each, and prints the ratios ours/find and the longest time the
// count or the search went without an Idle event.
//
//   bench_walk [TREE] [RUNS]        (default /usr, 5 runs)
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
    const int rc = posix_spawnp(&pid, "find", &fa, nullptr, argv.data(), environ);
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

int main(int argc, char** argv) {
    const std::string tree = argc > 1 ? argv[1] : "/usr";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const auto findArgs = FindArgs(tree);

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
    std::printf("tree %s: %d directory entries counted, %d files match (find: %ld)\n", tree.c_str(), dirs,
                counter.files, found);

    counter.longestGap = 0;  // the timed runs only
    std::vector<double> tCount, tSearch, tFind;
    for (int i = 0; i < runs; ++i) {
        counter.Start();
        tCount.push_back(Seconds([&] { core.GetDirCount(search::kFalse, tree); }));
        counter.Start();
        tSearch.push_back(Seconds([&] { core.SearchForFiles(tree, recurse, mask); }));
        tFind.push_back(Seconds([&] { RunFind(findArgs); }));
        std::printf("run %d: GetDirCount %.3f s, search %.3f s, find %.3f s\n", i + 1, tCount.back(), tSearch.back(),
                    tFind.back());
    }
    const double mc = Median(tCount), ms = Median(tSearch), mf = Median(tFind);
    std::printf("median of %d: GetDirCount %.3f s, search %.3f s, find %.3f s\n", runs, mc, ms, mf);
    std::printf("ratio GetDirCount/find %.2f, search/find %.2f (target <= 1.00)\n", mc / mf, ms / mf);
    std::printf("longest time without an Idle event: %.1f ms (target <= 50)\n", counter.longestGap * 1000);
    return 0;
}
