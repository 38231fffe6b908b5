#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TempTree.h"
#include "platform/SystemVersion.h"
#include "search/cSearchCore.h"

using search::cSearchCore;
using search::kFalse;
using search::kTrue;
using search::VBBool;

namespace {

struct Recorder : search::ISearchEvents {
    std::vector<std::string> files;
    std::vector<int32_t> fileCounts, dirCounts;
    const int32_t* dirCount = nullptr;  // the object's own counter, readable after the search
    int finished = 0;
    std::function<void(VBBool&)> onFile;
    void FileFound(std::string& name, int32_t& fileCount, int32_t& dirCount, VBBool& cancel) override {
        files.push_back(name);
        fileCounts.push_back(fileCount);
        dirCounts.push_back(dirCount);
        this->dirCount = &dirCount;
        if (onFile) onFile(cancel);
    }
    void SearchFinished() override { ++finished; }
};

void Search(cSearchCore& core, const std::string& root, VBBool recurse, std::string mask) {
    core.SearchForFiles(root, recurse, mask);
}

using Masks = std::vector<std::string>;

}  // namespace

TEST(MaskList, OneSeparatorKindEmptyElementsKeptNothingTrimmed) {
    EXPECT_EQ(search::ParseMaskList("*.exe;*.dll"), (Masks{"*.exe", "*.dll"}));
    EXPECT_EQ(search::ParseMaskList("*.exe, *.dll"), (Masks{"*.exe", "*.dll"}));
    EXPECT_EQ(search::ParseMaskList("*.exe,*.dll"), (Masks{"*.exe", "*.dll"}));
    EXPECT_EQ(search::ParseMaskList("*.exe *.dll"), (Masks{"*.exe", "*.dll"}));
    EXPECT_EQ(search::ParseMaskList("*.exe|*.dll"), (Masks{"*.exe", "*.dll"}));
    EXPECT_EQ(search::ParseMaskList(" *.exe "), (Masks{"*.exe"}));
    EXPECT_EQ(search::ParseMaskList("*.exe; *.dll;*.ocx"), (Masks{"*.exe", "*.dll;*.ocx"}));
    EXPECT_EQ(search::ParseMaskList("*.exe ;*.dll"), (Masks{"*.exe ", "*.dll"}));
    EXPECT_EQ(search::ParseMaskList("a;;b"), (Masks{"a", "", "b"}));
    EXPECT_EQ(search::ParseMaskList("a, b,c"), (Masks{"a", "b,c"}));
    EXPECT_EQ(search::ParseMaskList("a  b"), (Masks{"a", "", "b"}));
    EXPECT_EQ(search::ParseMaskList("a;b|c"), (Masks{"a", "b", "c"}));
    EXPECT_TRUE(search::ParseMaskList("   ").empty());
    EXPECT_TRUE(search::ParseMaskList("").empty());
}

TEST(Helpers, BackslashAndNul) {
    EXPECT_EQ(search::AddBackslash("/tmp/Tools"), "/tmp/Tools/");
    EXPECT_EQ(search::AddBackslash("/tmp/"), "/tmp/");
    const char buf[8] = {'a', 'b', '\0', 'c', 'd', 'e', 'f', 'g'};
    EXPECT_EQ(search::TrimAtNull(buf, sizeof buf), "ab");
    EXPECT_EQ(search::TrimAtNull("abcdefgh", 4), "abcd");  // no NUL within the buffer
}

// Every tree test runs on both walks: the one of NT 4 and later and the older one.
class Walk : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        platform::OSVERSIONINFOA v;
        if (!GetParam()) {
            v.dwPlatformId = platform::VER_PLATFORM_WIN32_WINDOWS;
            v.dwMajorVersion = 4;
        }
        platform::SetSystemVersion(v);
        ASSERT_EQ(search::IsWinNT4OrLater(), GetParam());
        core.SetEvents(&rec);
    }
    void TearDown() override { platform::ResetSystemVersion(); }
    TempTree t;
    cSearchCore core;
    Recorder rec;
};

TEST_P(Walk, FilesOfAFolderBeforeItsSubfoldersInNameOrder) {
    for (const char* f : {"b.exe", "a.dll", "sub/c.exe", "Z.EXE", "aa.exe", "sub/deeper/d.exe", "zsub/e.exe"})
        t.file(f);
    Search(core, t.root(), kTrue, "*.exe");
    const std::string r = t.root();
    EXPECT_EQ(rec.files, (Masks{r + "/aa.exe", r + "/b.exe", r + "/Z.EXE", r + "/sub/c.exe", r + "/sub/deeper/d.exe",
                                r + "/zsub/e.exe"}));
    EXPECT_EQ(rec.fileCounts, (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(rec.finished, 1);
}

TEST_P(Walk, WithoutSubfoldersOnlyTheTopIsReportedButItsEntriesAreCounted) {
    t.file("b.exe");
    t.file("a.dll");
    t.file("sub/c.exe");
    Search(core, t.root() + "/", kFalse, "*.exe");
    EXPECT_EQ(rec.files, (Masks{t.root() + "/b.exe"}));
    ASSERT_TRUE(rec.dirCount);
    EXPECT_EQ(*rec.dirCount, 3) << ". .. sub";
}

TEST_P(Walk, CountOfTwoSubfoldersIsEightAndASearchEndsOnTheCount) {
    t.dir("one");
    t.dir("two");
    t.file("two/x.exe");
    EXPECT_EQ(core.GetDirCount(kFalse, t.root()), 8);
    EXPECT_TRUE(rec.files.empty());
    EXPECT_EQ(rec.finished, 0);

    for (const char* f : {"one/a/b/c.dll", "one/a/q.exe", "two/y/z.exe", "top.exe"}) t.file(f);
    t.dir("empty/e");
    const int32_t count = core.GetDirCount(kFalse, t.root());
    EXPECT_EQ(count, 7 + 8 * 2);  // seven folders below the root, eight with . and ..
    Search(core, t.root(), kTrue, "*.exe;*.dll");
    ASSERT_EQ(rec.files.size(), 5u);
    EXPECT_EQ(*rec.dirCount, count);
}

TEST_P(Walk, StopFromTheFirstEventAndFromDeepInside) {
    for (const char* f : {"a.exe", "b.exe", "s/c.exe", "s/t/d.exe", "s/t/e.exe", "u/f.exe"}) t.file(f);
    rec.onFile = [](VBBool& cancel) { cancel = kTrue; };
    Search(core, t.root(), kTrue, "*.exe");
    EXPECT_EQ(rec.files.size(), 1u);
    EXPECT_EQ(rec.finished, 1);

    rec = Recorder{};
    rec.onFile = [this](VBBool& cancel) {
        if (rec.files.back().ends_with("/d.exe")) cancel = kTrue;
    };
    Search(core, t.root(), kTrue, "*.exe");
    EXPECT_EQ(rec.files.size(), 4u);
    EXPECT_EQ(rec.finished, 1);
}

TEST_P(Walk, MissingRoot) {
    Search(core, t.path("absent"), kTrue, "*");
    EXPECT_TRUE(rec.files.empty());
    EXPECT_EQ(rec.finished, 1);
    EXPECT_EQ(core.GetDirCount(kFalse, t.path("absent")), 0);
}

TEST_P(Walk, LinksToFoldersAreFilesAndNeverFollowed) {
    t.file("d/x.exe");
    std::filesystem::create_directory_symlink(t.root(), t.path("d/loop.exe"));
    std::filesystem::create_directory_symlink(t.path("d"), t.path("d/back"));
    Search(core, t.root(), kTrue, "*.exe");
    EXPECT_EQ(rec.files, (Masks{t.path("d/loop.exe"), t.path("d/x.exe")}));
    EXPECT_EQ(core.GetDirCount(kFalse, t.root()), 2 + 3);
}

INSTANTIATE_TEST_SUITE_P(BothWalks, Walk, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "NT" : "Win9x"; });

// A folder the searcher may not read is skipped with its files and subtree,
// but still counted as an entry of its parent. Root reads everything, so the
// search runs in a child that has given up its privileges.
TEST(Unreadable, FolderIsSkippedSilently) {
    TempTree t;
    t.file("a.exe");
    t.file("locked/b.exe");
    t.file("locked/deep/c.exe");
    t.file("open/d.exe");
    for (const auto& e : std::filesystem::recursive_directory_iterator(t.root()))
        std::filesystem::permissions(e.path(), std::filesystem::perms::all);
    std::filesystem::permissions(t.root(), std::filesystem::perms::all);
    std::filesystem::permissions(t.path("locked"), std::filesystem::perms::none);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
        if (::access(t.path("locked/b.exe").c_str(), F_OK) == 0) ::_exit(77);  // still able to look in
        cSearchCore core;
        Recorder rec;
        core.SetEvents(&rec);
        Search(core, t.root(), kTrue, "*.exe");
        const bool ok = rec.files == Masks{t.path("a.exe"), t.path("open/d.exe")} && rec.finished == 1 &&
                        core.GetDirCount(kFalse, t.root()) == 4 + 2;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    std::filesystem::permissions(t.path("locked"), std::filesystem::perms::owner_all);
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no unprivileged user to search as";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
