#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

using namespace std::string_literals;

#include "TempTree.h"
#include "platform/Drives.h"
#include "platform/FindFile.h"
#include "platform/Wildcard.h"
#include "search/cSearchCore.h"

using platform::PathMatchSpecA;
using Texts = std::vector<std::string>;

TEST(Wildcard, StarsQuestionMarksCaseAndLists) {
    EXPECT_TRUE(PathMatchSpecA("SETUP.EXE", "*.exe"));
    EXPECT_TRUE(PathMatchSpecA("setup.exe", "S*.EXE"));
    EXPECT_FALSE(PathMatchSpecA("setup.exe.bak", "*.exe"));
    EXPECT_TRUE(PathMatchSpecA("README", "*.*"));
    EXPECT_TRUE(PathMatchSpecA("a.dll", "?.dll"));
    EXPECT_FALSE(PathMatchSpecA(".dll", "?.dll"));
    EXPECT_FALSE(PathMatchSpecA("ab.dll", "?.dll"));
    EXPECT_TRUE(PathMatchSpecA("\xc3\xa9.dll", "?.dll"));  // one character, two bytes
    EXPECT_TRUE(PathMatchSpecA("x.ocx", "*.exe; *.ocx"));
    EXPECT_FALSE(PathMatchSpecA("a.exe", "*.exe "));  // a trailing blank is part of the pattern
    EXPECT_FALSE(PathMatchSpecA("a.exe", ""));
    EXPECT_FALSE(PathMatchSpecA("a.exe", ";"));
    const std::string name(255, 'a');
    EXPECT_TRUE(PathMatchSpecA(name + ".dll", "*a?.dll"));
    std::string stars;
    for (int i = 0; i < 60; ++i) stars += "*a";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(PathMatchSpecA(name, stars + "b"));
    EXPECT_TRUE(PathMatchSpecA(name, stars));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "backtracking blew up";
}

// Entries of a folder as "name" for files and "name/" for folders.
static Texts List(const std::string& pattern) {
    Texts out;
    platform::WIN32_FIND_DATAA data;
    platform::HANDLE h = platform::FindFirstFileA(pattern, data);
    if (h == platform::INVALID_HANDLE_VALUE) return out;
    do {
        out.push_back(std::string(data.cFileName) + (data.dwFileAttributes & 0x10 ? "/" : ""));
    } while (platform::FindNextFileA(h, data));
    platform::FindClose(h);
    return out;
}

TEST(FindFile, NameOrderDotsFirstLinksAreFiles) {
    TempTree t;
    for (const char* f : {"b", "B2", "_u", "A", "a", "#x"}) t.file(f);
    t.dir("sub");
    std::filesystem::create_directory_symlink(t.path("sub"), t.path("link"));
    EXPECT_EQ(List(t.root() + "/*.*"), (Texts{"./", "../", "#x", "A", "a", "b", "B2", "link", "sub/", "_u"}));
    EXPECT_EQ(List(t.root() + "/?2"), (Texts{"B2"}));
    EXPECT_TRUE(List(t.root() + "/*.none").empty());
    EXPECT_TRUE(List(t.path("absent") + "/*.*").empty());
    EXPECT_TRUE(List(t.path("b") + "/*.*").empty());
    EXPECT_TRUE(List(t.root() + "\0/sub/*.*"s).empty());
}

TEST(FindFile, NeitherVirtualFileSystemsNorOtherDevicesNorLoops) {
    EXPECT_TRUE(List("/proc/self/*.*").empty());
    std::stringstream mounts;
    mounts << std::ifstream("/proc/self/mounts").rdbuf();
    if (mounts.str().find(" /dev devtmpfs ") != std::string::npos) {
        EXPECT_TRUE(List("/dev/*.*").empty()) << "devtmpfs passes for tmpfs by its magic number";
    }
    TempTree t;
    t.file("a");
    auto session = std::make_unique<platform::FindSession>();
    {
        platform::FindDeviceLimit limit(t.root());
        EXPECT_EQ(List(t.root() + "/*.*").size(), 3u);
        if (std::filesystem::is_directory("/dev/shm")) {
            EXPECT_TRUE(List("/dev/shm/*.*").empty());
        }
        platform::FindDeviceLimit none(t.path("absent"));
        EXPECT_TRUE(List(t.root() + "/*.*").empty());
    }
    platform::WIN32_FIND_DATAA data;
    platform::HANDLE outer = platform::FindFirstFileA(t.root() + "/*.*", data);
    t.file("b");  // the second enumeration of a level reports what the first one does
    EXPECT_EQ(List(t.root() + "/*.*").size(), 3u);
    EXPECT_TRUE(List(t.root() + "/./*.*").empty()) << "the folder being walked, reached again: a loop";
    platform::FindClose(outer);
    session.reset();
    EXPECT_EQ(List(t.root() + "/./*.*").size(), 4u) << "each enumeration outside a session reads afresh";
}

// A fake mount table and /sys: a partition and a whole disk (fixed), a
// stick, a CD, a share, proc and a second mount of the partition.
class FakeDrives : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"c", "d e", "stick", "cd", "net", "proc", "again", "sys/class/block/fda/fda1"}) t.dir(d);
        for (const char* f : {"fda/removable", "fda/fda1/partition", "fdb/removable"}) Write("sys/class/block/" + std::string(f), "0");
        Write("sys/class/block/fdc/removable", "1");
        std::filesystem::create_directory_symlink("fda/fda1", t.path("sys/class/block/fda1"));
        const std::string r = t.root();
        Write("mounts", "/dev/fdc " + r + "/stick vfat rw 0 0\n/dev/fda1 " + r + "/c ext4 rw 0 0\n/dev/sr0 " + r +
                            "/cd iso9660 ro 0 0\nhost:/x " + r + "/net nfs4 rw 0 0\nproc " + r + "/proc proc rw 0 0\n" +
                            "/dev/fda1 " + r + "/again ext4 rw 0 0\n/dev/fdb " + r + "/d\\040e xfs rw 0 0\nbad\n");
        platform::SetDriveSources(t.path("mounts"), t.path("sys"));
        core.SetEvents(&rec);
    }
    void TearDown() override { platform::SetDriveSources("", ""); }
    void Write(const std::string& rel, const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(t.path(rel)).parent_path());
        std::ofstream(t.path(rel)) << text;
    }
    struct Events : search::ISearchEvents {
        Texts files;
        std::vector<int32_t> counts;
        int finished = 0;
        bool stop = false;
        const int32_t* dirs = nullptr;
        void FileFound(std::string& name, int32_t& fileCount, int32_t& dirCount, search::VBBool& cancel) override {
            files.push_back(name);
            counts.push_back(fileCount);
            dirs = &dirCount;
            if (stop) cancel = search::kTrue;
        }
        void SearchFinished() override { ++finished; }
    };
    TempTree t;
    search::cSearchCore core;
    Events rec;
};

TEST_F(FakeDrives, ListOfEachDeviceOnceAndTheKinds) {
    const uint32_t needed = platform::GetLogicalDriveStringsA(0, nullptr);
    std::vector<char> buf(needed + 1, '#');
    EXPECT_EQ(platform::GetLogicalDriveStringsA(needed - 1, buf.data()), needed) << "too small: the size needed";
    EXPECT_EQ(buf[0], '#');
    ASSERT_EQ(platform::GetLogicalDriveStringsA(needed, buf.data()), needed - 1);
    EXPECT_EQ(buf[needed], '#');
    const std::string r = t.root();
    EXPECT_EQ(std::string(buf.data(), needed),
              r + "/stick/\0"s + r + "/c/\0"s + r + "/cd/\0"s + r + "/net/\0"s + r + "/d e/\0\0"s);
    const std::pair<const char*, uint32_t> kinds[] = {
        {"/c/", platform::DRIVE_FIXED},   {"/d e", platform::DRIVE_FIXED},     {"/stick/", platform::DRIVE_REMOVABLE},
        {"/cd/", platform::DRIVE_CDROM},  {"/net/", platform::DRIVE_REMOTE},   {"/proc/", platform::DRIVE_UNKNOWN},
        {"/c/x/", platform::DRIVE_NO_ROOT_DIR}};
    for (const auto& [root, kind] : kinds) EXPECT_EQ(platform::GetDriveTypeA(t.root() + root), kind) << root;
}

TEST_F(FakeDrives, FixedDrivesInTableOrderWithCountersRunningOn) {
    for (const char* f : {"c/a.exe", "c/s/b.exe", "d e/c.exe", "stick/x.exe", "cd/x.exe", "net/x.exe"}) t.file(f);
    std::string mask = "*.exe";
    core.SearchSystemForFiles(mask);
    EXPECT_EQ(rec.files, (Texts{t.path("c/a.exe"), t.path("c/s/b.exe"), t.path("d e/c.exe")}));
    EXPECT_EQ(rec.counts, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(rec.finished, 1);
    EXPECT_EQ(core.GetDirCount(search::kFalse, "/"), (3 + 2) + 2);

    rec = Events{};
    rec.stop = true;
    core.SearchSystemForFiles(mask);
    EXPECT_EQ(rec.files, (Texts{t.path("c/a.exe")}));
    EXPECT_EQ(rec.finished, 1);

    platform::SetDriveSources(t.path("no-table"), "");
    rec = Events{};
    core.SearchSystemForFiles(mask);
    EXPECT_EQ(rec.files.size() + rec.finished, 1u);
    EXPECT_EQ(core.GetDirCount(search::kTrue), 0);
}

// Folder "/" is searched exactly as it is counted: drive by drive, entering
// no mount point from a drive. Shares and FUSE mounts of unknown type are
// never entered, not even from a plain folder, which does enter a tmpfs.
TEST_F(FakeDrives, SlashSearchedAsCountedUnsafeMountsLeftAlone) {
    const std::string r = t.root();
    std::ofstream(t.path("mounts"), std::ios::app) << "host:/s " + r + "/c/share nfs4 rw 0 0\nrclone: " + r +
                                                          "/c/fz fuse.rclone rw 0 0\nbig " + r + "/c/tmp tmpfs rw 0 0\n";
    for (const char* f : {"c/a.exe", "c/share/n.exe", "c/fz/f.exe", "c/tmp/t.exe", "d e/c.exe"}) t.file(f);
    EXPECT_EQ(platform::GetDriveTypeA(t.path("c/share")), platform::DRIVE_REMOTE);
    EXPECT_EQ(platform::GetDriveTypeA(t.path("c/fz")), platform::DRIVE_UNKNOWN);
    std::string mask = "*.exe";
    search::VBBool recurse = search::kTrue;
    struct Row {
        const char* name;
        std::string root;  // what GetDirCount is given
        std::function<void()> search;
        Texts files;
        int32_t count;  // c: . .. fz share tmp; d e: . ..; tmp: . ..
    };
    const Row rows[] = {
        {"all drives", "/", [&] { core.SearchSystemForFiles(mask); }, {t.path("c/a.exe"), t.path("d e/c.exe")}, 5 + 2},
        {"folder /", "/", [&] { core.SearchForFiles("/", recurse, mask); }, {t.path("c/a.exe"), t.path("d e/c.exe")}, 5 + 2},
        {"folder c", t.path("c"), [&] { core.SearchForFiles(t.path("c"), recurse, mask); },
         {t.path("c/a.exe"), t.path("c/tmp/t.exe")}, 5 + 2},
    };
    for (const Row& row : rows) {
        rec = Events{};
        row.search();
        EXPECT_EQ(rec.files, row.files) << row.name;
        ASSERT_TRUE(rec.dirs) << row.name;
        EXPECT_EQ(*rec.dirs, row.count) << row.name;
        EXPECT_EQ(core.GetDirCount(search::kFalse, row.root), row.count) << row.name;
    }
}

TEST(RealDrives, RootIsAFixedDrive) {
    std::vector<char> buf(platform::GetLogicalDriveStringsA(0, nullptr) + 1);
    platform::GetLogicalDriveStringsA(static_cast<uint32_t>(buf.size()), buf.data());
    int roots = 0;
    for (const char* p = buf.data(); *p; p += std::strlen(p) + 1) roots += std::string(p) == "/";
    EXPECT_EQ(roots, 1);
    EXPECT_EQ(platform::GetDriveTypeA("/"), platform::DRIVE_FIXED);
}
