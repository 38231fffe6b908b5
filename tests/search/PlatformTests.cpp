#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempTree.h"
#include "platform/Drives.h"
#include "platform/FindFile.h"
#include "platform/Wildcard.h"
#include "search/cSearchCore.h"

using platform::PathMatchSpecA;

TEST(Wildcard, StarsQuestionMarksAndCase) {
    EXPECT_TRUE(PathMatchSpecA("SETUP.EXE", "*.exe"));
    EXPECT_TRUE(PathMatchSpecA("setup.exe", "S*.EXE"));
    EXPECT_FALSE(PathMatchSpecA("setup.exe.bak", "*.exe"));
    EXPECT_TRUE(PathMatchSpecA("README", "*.*"));
    EXPECT_TRUE(PathMatchSpecA(".hidden", "*"));
    EXPECT_TRUE(PathMatchSpecA("a.dll", "?.dll"));
    EXPECT_FALSE(PathMatchSpecA(".dll", "?.dll"));
    EXPECT_FALSE(PathMatchSpecA("ab.dll", "?.dll"));
    EXPECT_TRUE(PathMatchSpecA("\xc3\xa9.dll", "?.dll"));  // one character, two bytes
    EXPECT_TRUE(PathMatchSpecA("x.ocx", "*.exe; *.ocx"));
    EXPECT_FALSE(PathMatchSpecA("a.exe", "*.exe "));  // a trailing blank is part of the pattern
    EXPECT_FALSE(PathMatchSpecA("a.exe", ""));
    EXPECT_FALSE(PathMatchSpecA("a.exe", ";"));
    const std::string longName(255, 'a');
    EXPECT_TRUE(PathMatchSpecA(longName + ".dll", "*a?.dll"));
    EXPECT_TRUE(PathMatchSpecA(longName, longName));
}

TEST(Wildcard, ManyStarsTakeNoExponentialTime) {
    const std::string name(255, 'a');
    std::string pattern;
    for (int i = 0; i < 60; ++i) pattern += "*a";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(PathMatchSpecA(name, pattern + "b"));
    EXPECT_TRUE(PathMatchSpecA(name, pattern));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

namespace {

struct Entry {
    std::string name;
    bool dir;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> List(const std::string& pattern) {
    std::vector<Entry> out;
    platform::WIN32_FIND_DATAA data;
    platform::HANDLE h = platform::FindFirstFileA(pattern, data);
    if (h == platform::INVALID_HANDLE_VALUE) return out;
    do {
        out.push_back({data.cFileName, (data.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (platform::FindNextFileA(h, data));
    platform::FindClose(h);
    return out;
}

}  // namespace

TEST(FindFile, NameOrderDotsFirstLinksAreFiles) {
    TempTree t;
    for (const char* f : {"b", "B2", "_u", "A", "a", "#x"}) t.file(f);
    t.dir("sub");
    std::filesystem::create_directory_symlink(t.path("sub"), t.path("link"));
    EXPECT_EQ(List(t.root() + "/*.*"), (std::vector<Entry>{{".", true}, {"..", true}, {"#x", false}, {"A", false},
                                                           {"a", false}, {"b", false}, {"B2", false}, {"link", false},
                                                           {"sub", true}, {"_u", false}}));
    EXPECT_EQ(List(t.root() + "/?2"), (std::vector<Entry>{{"B2", false}}));
    EXPECT_TRUE(List(t.root() + "/*.none").empty());
    EXPECT_TRUE(List(t.path("absent") + "/*.*").empty());
    EXPECT_TRUE(List(t.path("b") + "/*.*").empty());  // a file is no folder
}

TEST(FindFile, VirtualFileSystemsAndOtherDevicesAreNotEntered) {
    EXPECT_TRUE(List("/proc/*.*").empty());
    EXPECT_TRUE(List("/proc/self/*.*").empty());
    TempTree t;
    t.dir("d");
    {
        platform::FindDeviceLimit limit(t.root());
        EXPECT_EQ(List(t.path("d") + "/*.*").size(), 2u);
        if (std::filesystem::is_directory("/dev/shm")) {
            EXPECT_TRUE(List("/dev/shm/*.*").empty());
        }
    }
    {
        platform::FindDeviceLimit limit(t.path("absent"));
        EXPECT_TRUE(List(t.path("d") + "/*.*").empty());
    }
    EXPECT_EQ(List(t.path("d") + "/*.*").size(), 2u);
}

TEST(FindFile, OpenFolderIsServedAgainAndNeverReenteredUnderAnotherName) {
    TempTree t;
    t.file("a");
    platform::WIN32_FIND_DATAA data;
    platform::HANDLE outer = platform::FindFirstFileA(t.root() + "/*.*", data);
    ASSERT_NE(outer, platform::INVALID_HANDLE_VALUE);
    t.file("b");  // the second enumeration of the level reports what the first one does
    EXPECT_EQ(List(t.root() + "/*.*").size(), 3u);
    // The same folder reached under another name while it is being walked: a loop.
    EXPECT_TRUE(List(t.root() + "/./*.*").empty());
    platform::FindClose(outer);
    EXPECT_EQ(List(t.root() + "/./*.*").size(), 4u);
}

// A fake mount table and /sys tree: one disk with two partitions, a whole
// disk, a removable stick, a CD, a network share, proc and a second mount of
// the first partition.
class FakeDrives : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"c", "d e", "stick", "cd", "net", "proc", "again", "sys/class/block/fda/fda1",
                              "sys/class/block/fdb", "sys/class/block/fdc"})
            t.dir(d);
        flag("sys/class/block/fda/removable", "0");
        flag("sys/class/block/fda/fda1/partition", "1");
        flag("sys/class/block/fdb/removable", "0");
        flag("sys/class/block/fdc/removable", "1");
        std::filesystem::create_directory_symlink("fda/fda1", t.path("sys/class/block/fda1"));
        std::ofstream(t.path("mounts")) << "/dev/fdc " << t.path("stick") << " vfat rw 0 0\n"
                                        << "/dev/fda1 " << t.path("c") << " ext4 rw 0 0\n"
                                        << "/dev/sr0 " << t.path("cd") << " iso9660 ro 0 0\n"
                                        << "server:/x " << t.path("net") << " nfs4 rw 0 0\n"
                                        << "proc " << t.path("proc") << " proc rw 0 0\n"
                                        << "/dev/fda1 " << t.path("again") << " ext4 rw 0 0\n"
                                        << "/dev/fdb " << t.path("d\\040e") << " xfs rw 0 0\n"
                                        << "garbage\n";
        platform::SetDriveSources(t.path("mounts"), t.path("sys"));
    }
    void TearDown() override { platform::SetDriveSources("", ""); }
    void flag(const std::string& rel, const char* value) const { std::ofstream(t.path(rel)) << value << "\n"; }
    std::vector<std::string> Drives() const {
        std::vector<char> buf(platform::GetLogicalDriveStringsA(0, nullptr));
        const uint32_t n = platform::GetLogicalDriveStringsA(static_cast<uint32_t>(buf.size()), buf.data());
        std::vector<std::string> out;
        for (std::size_t i = 0; i < n; i += out.back().size() + 1) out.emplace_back(buf.data() + i);
        return out;
    }
    TempTree t;
};

TEST_F(FakeDrives, ListAndTypes) {
    const std::string r = t.root();
    EXPECT_EQ(Drives(), (std::vector<std::string>{r + "/stick/", r + "/c/", r + "/cd/", r + "/net/", r + "/d e/"}));
    EXPECT_EQ(platform::GetDriveTypeA(r + "/c/"), platform::DRIVE_FIXED);
    EXPECT_EQ(platform::GetDriveTypeA(r + "/d e"), platform::DRIVE_FIXED);
    EXPECT_EQ(platform::GetDriveTypeA(r + "/stick/"), platform::DRIVE_REMOVABLE);
    EXPECT_EQ(platform::GetDriveTypeA(r + "/cd/"), platform::DRIVE_CDROM);
    EXPECT_EQ(platform::GetDriveTypeA(r + "/net/"), platform::DRIVE_REMOTE);
    EXPECT_NE(platform::GetDriveTypeA(r + "/proc/"), platform::DRIVE_FIXED);
    EXPECT_EQ(platform::GetDriveTypeA(r + "/c/sub/"), platform::DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(platform::GetDriveTypeA(""), platform::DRIVE_NO_ROOT_DIR);
}

TEST_F(FakeDrives, ListThatDoesNotFitIsNotWritten) {
    const uint32_t needed = platform::GetLogicalDriveStringsA(0, nullptr);
    std::vector<char> buf(needed + 8, '#');
    EXPECT_EQ(platform::GetLogicalDriveStringsA(needed - 1, buf.data()), needed);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(platform::GetLogicalDriveStringsA(needed, buf.data()), needed - 1);
    EXPECT_EQ(buf[needed - 1], '\0');
    EXPECT_EQ(buf[needed - 2], '\0');
    EXPECT_EQ(buf[needed], '#');
    platform::SetDriveSources(t.path("no-such-table"), t.path("sys"));
    EXPECT_EQ(platform::GetLogicalDriveStringsA(0, nullptr), 0u);
}

namespace {
struct Collector : search::ISearchEvents {
    std::vector<std::string> files;
    std::vector<int32_t> counts;
    int finished = 0;
    bool stopFirst = false;
    void FileFound(std::string& name, int32_t& fileCount, int32_t&, search::VBBool& cancel) override {
        files.push_back(name);
        counts.push_back(fileCount);
        if (stopFirst) cancel = search::kTrue;
    }
    void SearchFinished() override { ++finished; }
};
}  // namespace

TEST_F(FakeDrives, FixedDrivesInTableOrderWithCountersRunningOn) {
    for (const char* f : {"c/a.exe", "c/s/b.exe", "d e/c.exe", "stick/x.exe", "cd/x.exe", "net/x.exe"}) t.file(f);
    search::cSearchCore core;
    Collector rec;
    core.SetEvents(&rec);
    std::string mask = "*.exe";
    core.SearchSystemForFiles(mask);
    EXPECT_EQ(rec.files, (std::vector<std::string>{t.path("c/a.exe"), t.path("c/s/b.exe"), t.path("d e/c.exe")}));
    EXPECT_EQ(rec.counts, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(rec.finished, 1);
    EXPECT_EQ(core.GetDirCount(search::kFalse, "/"), (3 + 2) + 2);
    EXPECT_EQ(core.GetDirCount(search::kTrue), 7);

    rec = Collector{};
    rec.stopFirst = true;
    core.SearchSystemForFiles(mask);
    EXPECT_EQ(rec.files, (std::vector<std::string>{t.path("c/a.exe")}));
    EXPECT_EQ(rec.finished, 1);

    platform::SetDriveSources(t.path("no-such-table"), t.path("sys"));
    rec = Collector{};
    core.SearchSystemForFiles(mask);
    EXPECT_TRUE(rec.files.empty());
    EXPECT_EQ(rec.finished, 1);
    EXPECT_EQ(core.GetDirCount(search::kTrue), 0);
}

TEST(RealDrives, RootIsAFixedDrive) {
    std::vector<char> buf(platform::GetLogicalDriveStringsA(0, nullptr));
    ASSERT_FALSE(buf.empty());
    platform::GetLogicalDriveStringsA(static_cast<uint32_t>(buf.size()), buf.data());
    EXPECT_STREQ(buf.data(), "/") << "the root file system is mounted first";
    EXPECT_EQ(platform::GetDriveTypeA("/"), platform::DRIVE_FIXED);
}
