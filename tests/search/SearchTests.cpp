#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/TempTree.h"
#include "platform/fs/FindFile.h"
#include "platform/system/SystemVersion.h"
#include "search/cSearchCore.h"

using search::kFalse;
using search::kTrue;
using search::VBBool;
namespace fs = std::filesystem;

// The lines a command prints, sorted: find(1) is the independent walker.
static Texts Lines(const std::string& command) {
    Texts lines;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char* line = nullptr;
        std::size_t cap = 0;
        for (ssize_t n; (n = ::getline(&line, &cap, p)) > 0;) lines.emplace_back(line, n - (line[n - 1] == '\n'));
        std::free(line);
        ::pclose(p);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(MaskList, OneSeparatorKindEmptyElementsKeptNothingTrimmed) {
    const std::pair<const char*, Texts> cases[] = {
        {"*.exe;*.dll", {"*.exe", "*.dll"}},  {"*.exe, *.dll", {"*.exe", "*.dll"}},
        {"*.exe,*.dll", {"*.exe", "*.dll"}},  {"*.exe *.dll", {"*.exe", "*.dll"}},
        {"*.exe|*.dll", {"*.exe", "*.dll"}},  {" *.exe ", {"*.exe"}},
        {"*.exe; *.dll;*.ocx", {"*.exe", "*.dll;*.ocx"}}, {"*.exe ;*.dll", {"*.exe ", "*.dll"}},
        {"a;;b", {"a", "", "b"}},             {"a, b,c", {"a", "b,c"}},
        {"a  b", {"a", "", "b"}},             {"a;b|c", {"a", "b", "c"}},
        {"   ", {}},                          {"", {}},
    };
    for (const auto& [text, masks] : cases) EXPECT_EQ(search::ParseMaskList(text), masks) << '"' << text << '"';
}

// Every tree test runs on both walks: that of NT 4 and later, and the older one.
class Walk : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        platform::OSVERSIONINFOA v;
        if (!GetParam()) v.dwPlatformId = platform::VER_PLATFORM_WIN32_WINDOWS;
        platform::SetSystemVersion(v);
        ASSERT_EQ(search::IsWinNT4OrLater(), GetParam());
        core.SetEvents(&rec);
    }
    void TearDown() override { platform::ResetSystemVersion(); }
    void Search(const std::string& root, VBBool recurse, std::string mask) { core.SearchForFiles(root, recurse, mask); }
    TempTree t;
    search::cSearchCore core;
    Recorder rec;
};

TEST_P(Walk, FilesOfAFolderBeforeItsSubfoldersInNameOrder) {
    for (const char* f : {"b.exe", "a.dll", "sub/c.exe", "Z.EXE", "aa.exe", "sub/deeper/d.exe", "zsub/e.exe"}) t.file(f);
    Search(t.root(), kTrue, "*.exe");
    EXPECT_EQ(rec.files, (Texts{t.path("aa.exe"), t.path("b.exe"), t.path("Z.EXE"), t.path("sub/c.exe"),
                                t.path("sub/deeper/d.exe"), t.path("zsub/e.exe")}));
    EXPECT_EQ(rec.fileCounts, (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));

    rec = Recorder{};
    Search(t.root() + "/", kFalse, "*.exe");
    EXPECT_EQ(rec.files, (Texts{t.path("aa.exe"), t.path("b.exe"), t.path("Z.EXE")}));
    EXPECT_EQ(*rec.dirCount, 4) << ". .. sub zsub, counted without being entered";
}

TEST_P(Walk, CountOfTwoSubfoldersIsEightAndSendsNoEvents) {
    t.dir("one");
    t.file("two/x.exe");
    EXPECT_EQ(core.GetDirCount(kFalse, t.root()), 8);
    EXPECT_TRUE(rec.files.empty() && rec.finished == 0);
}

TEST_P(Walk, StopFromTheFirstEventAndFromDeepInside) {
    for (const char* f : {"a.exe", "b.exe", "s/c.exe", "s/t/d.exe", "s/t/e.exe", "u/f.exe"}) t.file(f);
    for (const auto& [at, found] : {std::pair{"/a.exe", 1u}, {"/d.exe", 4u}}) {
        rec = Recorder{};
        rec.stopAt = [at](const std::string& name) { return name.ends_with(at); };
        Search(t.root(), kTrue, "*.exe");
        EXPECT_TRUE(rec.files.size() == found && rec.finished == 1) << "stopped at " << at;
    }
}

TEST_P(Walk, MissingRootAndLinksToFolders) {
    Search(t.path("absent"), kTrue, "*");
    EXPECT_TRUE(rec.files.empty() && rec.finished == 1);
    EXPECT_EQ(core.GetDirCount(kFalse, t.path("absent")), 0);

    // Links are files, never followed: no loop, and they match like files.
    t.file("d/x.exe");
    fs::create_directory_symlink(t.root(), t.path("d/loop.exe"));
    fs::create_directory_symlink(t.path("d"), t.path("d/back"));
    Search(t.root(), kTrue, "*.exe");
    EXPECT_EQ(rec.files, (Texts{t.path("d/loop.exe"), t.path("d/x.exe")}));
    EXPECT_EQ(core.GetDirCount(kFalse, t.root()), 3 + 2);
}

// Idle comes while nothing matches, in the count and in the walk, and its
// Cancel stops either; a stop asked before a call is honoured by it.
TEST_P(Walk, IdleWithoutMatchesAndStopsBeforeTheStart) {
    constexpr int kFolders = 30;  // each with one empty subfolder: 61 folders with the root
    for (int i = 0; i < kFolders; ++i) t.dir("d" + std::to_string(i) + "/e");
    t.file("d7/e/x.exe");
    const int32_t full = 2 + kFolders * (1 + 3 + 2);  // the entry in the root, then . .. e, then . ..
    core.SetIdleInterval(std::chrono::milliseconds(0));
    struct Row {
        const char* name;
        bool count;
        const char* mask;
        int cancelAtIdle;
    };
    const Row rows[] = {{"count", true, "", 0},        {"walk, no match", false, "*.dll", 0},
                        {"count cut", true, "", 3},    {"walk cut", false, "*.exe", 3}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        rec = Recorder{};
        rec.cancelAtIdle = row.cancelAtIdle;
        if (row.count) EXPECT_EQ(core.GetDirCount(kFalse, t.root()) == full, !row.cancelAtIdle);
        else Search(t.root(), kTrue, row.mask);
        if (row.cancelAtIdle) EXPECT_TRUE(rec.idles == row.cancelAtIdle && rec.files.empty()) << "Idle after the cancel";
        else EXPECT_GE(rec.idles, 1 + 2 * kFolders) << "at least one Idle per folder";
        EXPECT_EQ(rec.finished, row.count ? 0 : 1);
    }

    for (const bool count : {true, false}) {
        rec = Recorder{};
        core.StopWalk();  // as from a signal handler armed before the call
        if (count) EXPECT_EQ(core.GetDirCount(kFalse, t.root()), 0);
        else Search(t.root(), kTrue, "*.exe");
        EXPECT_TRUE(rec.files.empty()) << "stopped before the " << (count ? "count" : "walk");
        EXPECT_EQ(rec.finished, count ? 0 : 1);
        core.ClearStop();
        EXPECT_EQ(count ? core.GetDirCount(kFalse, t.root()) : (Search(t.root(), kTrue, "*.exe"), *rec.dirCount), full)
            << "a cleared stop stops nothing";
    }
}

// A tree 60 folders deep with names of 90 bytes: paths of 5,400 bytes, past
// PATH_MAX. Beside each level's next folder, z holds f.exe; "d..." sorts
// before "z", so every z is entered on the way back up, after the walk gave
// up the handles of the outer levels.
TEST_P(Walk, DeepTreePastPathMax) {
    const std::string name(90, 'd');
    constexpr int kLevels = 60;
    Texts expected;  // deepest first
    std::string level = t.root();
    int fd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < kLevels; ++i) {
        ASSERT_EQ(::mkdirat(fd, "z", 0700), 0);
        const int z = ::openat(fd, "z", O_RDONLY | O_DIRECTORY);
        ::close(::openat(z, "f.exe", O_CREAT | O_WRONLY, 0600));
        ::close(z);
        expected.insert(expected.begin(), level + "/z/f.exe");
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        level += "/" + name;
    }
    ::close(fd);
    ASSERT_GT(expected.front().size(), 5400u);

    Search(t.root(), kTrue, "*.exe");
    EXPECT_EQ(rec.files, expected);
    EXPECT_EQ(Lines("find '" + t.root() + "' -name f.exe"), expected) << "find lists other files";
    // Every folder but the root is an entry of its parent; each has . and ..
    const auto folders = static_cast<int32_t>(Lines("find '" + t.root() + "' -type d").size());
    EXPECT_EQ(*rec.dirCount, 3 * folders - 1);
    EXPECT_EQ(core.GetDirCount(kFalse, t.root()), 3 * folders - 1);

    // After a count that kept only the chain of d folders (no handles), the
    // walk enters each z by reopening its kept parent from 5,000-byte texts;
    // and with readers ahead from the start.
    for (const bool ahead : {false, true}) {
        platform::ReadAheadFromTheStart(ahead);
        core.SetKeptBudget(32 * 1024);
        EXPECT_EQ(core.GetDirCount(kFalse, t.root()), 3 * folders - 1);
        rec = Recorder{};
        Search(t.root(), kTrue, "*.exe");
        EXPECT_EQ(rec.files, expected) << (ahead ? "read ahead" : "kept");
        platform::ReadAheadFromTheStart(false);
    }

    // A root whose own text is past PATH_MAX: 50 levels down.
    std::string deepRoot = t.root();
    for (int i = 0; i < 50; ++i) deepRoot += "/" + name;
    ASSERT_GT(deepRoot.size(), 4096u);
    rec = Recorder{};
    Search(deepRoot, kTrue, "*.exe");
    EXPECT_EQ(rec.files, Texts(expected.begin(), expected.begin() + 10));
}

// A count keeps what it read for the walk after it, and readers ahead hand
// folders over whole: neither changes what the walk finds, in what order,
// nor its count; also with a budget that keeps only a few folders, and for
// a folder whose entries take several readings.
TEST_P(Walk, WalkAfterACountAndReadAheadFindWhatAWalkAloneFinds) {
    for (int i = 0; i < 12; ++i)
        for (const char* f : {"a.exe", "B.EXE", "x/c.exe", "x/y/d.dll", "Z/e.exe", "m.txt"})
            t.file("d" + std::to_string(i) + "/" + f);
    for (int i = 0; i < 2500; ++i) t.file("big/" + std::string(100, 'n') + std::to_string(i) + ".exe", "");
    Search(t.root(), kTrue, "*.exe;*.dll");
    const Texts alone = rec.files;
    const int32_t dirs = *rec.dirCount;
    ASSERT_EQ(alone.size(), 12u * 5 + 2500);
    ASSERT_EQ(Lines("find '" + t.root() + "' -name '*.exe' -o -name '*.EXE' -o -name '*.dll'").size(), alone.size());
    for (const bool ahead : {false, true})
        for (const std::size_t budget : {std::size_t(24) << 20, std::size_t(1024)}) {
            SCOPED_TRACE(testing::Message() << (ahead ? "read ahead, " : "") << "budget " << budget);
            platform::ReadAheadFromTheStart(ahead);
            core.SetKeptBudget(budget);
            rec = Recorder{};
            EXPECT_EQ(core.GetDirCount(kFalse, t.root()), dirs);
            Search(t.root(), kTrue, "*.exe;*.dll");
            EXPECT_EQ(rec.files, alone);
            EXPECT_EQ(*rec.dirCount, dirs);
            platform::ReadAheadFromTheStart(false);
        }
}

// A handler that throws leaves no folder open: the next walk reads the tree
// afresh instead of being served the readings the thrown walk left behind.
TEST_P(Walk, AThrowingHandlerLeavesNothingOpen) {
    for (const char* f : {"a.exe", "s/b.exe"}) t.file(f);
    core.SetIdleInterval(std::chrono::milliseconds(0));
    for (const bool inCount : {false, true}) {
        const char* row = inCount ? "Idle in the count" : "FileFound in the walk";
        rec = Recorder{};
        rec.throwAtIdle = inCount;
        rec.stopAt = [](const std::string&) -> bool { throw std::runtime_error("FileFound"); };
        EXPECT_THROW(inCount ? (void)core.GetDirCount(kFalse, t.root()) : Search(t.root(), kTrue, "*.exe"),
                     std::runtime_error)
            << row;
        t.file(inCount ? "c2.exe" : "c1.exe");
        rec = Recorder{};
        Search(t.root(), kTrue, "*.exe");
        EXPECT_EQ(rec.files, Lines("find '" + t.root() + "' -name '*.exe'")) << row;
    }
}

INSTANTIATE_TEST_SUITE_P(BothWalks, Walk, ::testing::Bool(), [](const auto& i) { return i.param ? "NT" : "Win9x"; });

// Searches root for *.exe with subfolders in a child process (for
// privileges or mounts of its own), after prepare, which answers false when
// the child cannot be set up. The child's exit status: 0 when check passed,
// 77 when it could not be set up, 1 otherwise.
static int SearchInChild(const std::string& root, const std::function<bool()>& prepare,
                         const std::function<bool(search::cSearchCore&, const Recorder&)>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!prepare()) ::_exit(77);
        search::cSearchCore core;
        Recorder rec;
        core.SetEvents(&rec);
        VBBool recurse = kTrue;
        std::string mask = "*.exe";
        core.SearchForFiles(root, recurse, mask);
        ::_exit(check(core, rec) ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// A folder the searcher may not read is skipped with its files and subtree,
// but still counted as an entry of its parent. Root reads everything, so the
// search runs in a child that has given up its privileges.
TEST(Unreadable, FolderIsSkippedSilently) {
    TempTree t;
    for (const char* f : {"a.exe", "locked/b.exe", "locked/deep/c.exe", "open/d.exe"}) t.file(f);
    for (const auto& e : fs::recursive_directory_iterator(t.root())) fs::permissions(e.path(), fs::perms::all);
    fs::permissions(t.root(), fs::perms::all);
    fs::permissions(t.path("locked"), fs::perms::none);

    const int status = SearchInChild(
        t.root(),
        [&] {
            return (::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0)) &&
                   ::access(t.path("locked/b.exe").c_str(), F_OK) != 0;  // no longer able to look in
        },
        [&](search::cSearchCore& core, const Recorder& rec) {
            return rec.files == Texts{t.path("a.exe"), t.path("open/d.exe")} && rec.finished == 1 &&
                   core.GetDirCount(kFalse, t.root()) == 4 + 2;
        });
    fs::permissions(t.path("locked"), fs::perms::owner_all);
    if (status == 77) GTEST_SKIP() << "no unprivileged user to search as";
    EXPECT_EQ(status, 0);
}

// Bind mounts inside the tree, met after their source and before it, and one
// of the tree inside itself: each folder is walked once, the count agrees.
// The mounts live in a mount namespace of the child's own, so root only.
TEST(BindMount, EachFolderWalkedOnceAndTheCountAgrees) {
    TempTree t;
    for (const char* f : {"a/x.exe", "a/s/y.exe", "b/z.exe"}) t.file(f);
    for (const char* d : {"0", "b/m", "c/loop"}) t.dir(d);
    const auto mount = [&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
        for (const auto& [from, to] : {std::pair{"a", "0"}, {"a", "b/m"}, {"", "c/loop"}})
            if (::mount(t.path(from).c_str(), t.path(to).c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return false;
        return Lines("find '" + t.root() + "' -name y.exe 2>/dev/null").size() == 3;  // find walks the copies
    };
    const int status = SearchInChild(t.root(), mount, [&](search::cSearchCore& core, const Recorder& rec) {
        // root: . .. 0 a b c; 0: . .. s; 0/s: . ..; b: . .. m; c: . .. loop
        const int32_t expected = 6 + 3 + 2 + 3 + 3;
        const bool once = rec.files == Texts{t.path("0/x.exe"), t.path("0/s/y.exe"), t.path("b/z.exe")};
        const int32_t walked = *rec.dirCount, counted = core.GetDirCount(kFalse, t.root());
        if (!once || walked != expected || counted != expected)
            std::fprintf(stderr, "files once: %d, walked %d, counted %d, expected %d\n", once, walked, counted, expected);
        return once && walked == expected && counted == expected;
    });
    if (status == 77) GTEST_SKIP() << "bind mounts are not permitted here";
    EXPECT_EQ(status, 0);
}
