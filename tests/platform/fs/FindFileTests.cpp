#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>
#include <sstream>

using namespace std::string_literals;

#include "tests/support/TempTree.h"
#include "platform/fs/Drives.h"
#include "platform/fs/FindFile.h"
#include "platform/fs/Wildcard.h"
#include "search/cSearchCore.h"

using platform::PathMatchSpecA;

TEST(Wildcard, StarsQuestionMarksCaseAndLists) {
    const std::string name(255, 'a');
    std::string stars;  // a backtracking blow-up on this runs into the test's timeout
    for (int i = 0; i < 60; ++i) stars += "*a";
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"SETUP.EXE", "*.exe", true}, {"setup.exe", "S*.EXE", true}, {"setup.exe.bak", "*.exe", false},
        {"README", "*.*", true}, {"a.dll", "?.dll", true}, {".dll", "?.dll", false}, {"ab.dll", "?.dll", false},
        {"\xc3\xa9.dll", "?.dll", true},  // one character, two bytes
        {"x.ocx", "*.exe; *.ocx", true}, {"a.exe", "*.exe ", false},  // a trailing blank is part of the pattern
        {"a.exe", "", false}, {"a.exe", ";", false}, {name + ".dll", "*a?.dll", true},
        {name, stars + "b", false}, {name, stars, true}};
    for (const auto& [text, pattern, match] : cases)
        EXPECT_EQ(PathMatchSpecA(text, pattern), match) << text.substr(0, 12) << " / " << pattern.substr(0, 12);
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
    for (const std::string& p : {t.root() + "/*.none", t.path("absent/*.*"), t.path("b/*.*"), t.root() + "\0/sub/*.*"s})
        EXPECT_TRUE(List(p).empty()) << p;
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
        for (const char* f : {"fda/removable", "fda/fda1/partition", "fdb/removable"}) t.file("sys/class/block/" + std::string(f), "0");
        t.file("sys/class/block/fdc/removable", "1");
        std::filesystem::create_directory_symlink("fda/fda1", t.path("sys/class/block/fda1"));
        const std::string r = t.root();
        // A RAM disk as the root: listed, never searched.
        t.file("mounts", "none / tmpfs rw 0 0\n/dev/fdc " + r + "/stick vfat rw 0 0\n/dev/fda1 " + r + "/c ext4 rw 0 0\n/dev/sr0 " + r +
                             "/cd iso9660 ro 0 0\nhost:/x " + r + "/net nfs4 rw 0 0\nproc " + r + "/proc proc rw 0 0\n" +
                             "/dev/fda1 " + r + "/again ext4 rw 0 0\n/dev/fdb " + r + "/d\\040e xfs rw 0 0\nbad\n");
        platform::SetDriveSources(t.path("mounts"), t.path("sys"));
        core.SetEvents(&rec);
    }
    void TearDown() override { platform::SetDriveSources("", ""); }
    TempTree t;
    search::cSearchCore core;
    Recorder rec;
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
              "/\0"s + r + "/stick/\0"s + r + "/c/\0"s + r + "/cd/\0"s + r + "/net/\0"s + r + "/d e/\0\0"s);
    const std::pair<const char*, uint32_t> kinds[] = {
        {"/c/", platform::DRIVE_FIXED},   {"/d e", platform::DRIVE_FIXED},     {"/stick/", platform::DRIVE_REMOVABLE},
        {"/cd/", platform::DRIVE_CDROM},  {"/net/", platform::DRIVE_REMOTE},   {"/proc/", platform::DRIVE_UNKNOWN},
        {"/c/x/", platform::DRIVE_NO_ROOT_DIR}};
    for (const auto& [root, kind] : kinds) EXPECT_EQ(platform::GetDriveTypeA(t.root() + root), kind) << root;
    EXPECT_EQ(platform::GetDriveTypeA("/"), platform::DRIVE_RAMDISK);

    // A chroot's table has no root: the root the process sees is still its first fixed drive.
    t.file("mounts", "/dev/fda1 " + r + "/c ext4 rw 0 0\n");
    std::vector<char> chroot(platform::GetLogicalDriveStringsA(0, nullptr));
    ASSERT_EQ(platform::GetLogicalDriveStringsA(static_cast<uint32_t>(chroot.size()), chroot.data()), chroot.size() - 1);
    EXPECT_EQ(std::string(chroot.data(), chroot.size()), "/\0"s + r + "/c/\0\0"s);
    EXPECT_EQ(platform::GetDriveTypeA("/"), platform::DRIVE_FIXED);
}

TEST_F(FakeDrives, StopAtTheFirstFileAndNoMountTable) {
    for (const char* f : {"c/a.exe", "d e/c.exe"}) t.file(f);
    std::string mask = "*.exe";
    rec.stopAt = [](const std::string&) { return true; };
    core.SearchSystemForFiles(mask);
    EXPECT_TRUE(rec.files == Texts{t.path("c/a.exe")} && rec.finished == 1);

    platform::SetDriveSources(t.path("no-table"), "");
    rec = Recorder{};
    core.SearchSystemForFiles(mask);
    EXPECT_EQ(rec.files.size() + rec.finished, 1u);
    EXPECT_EQ(core.GetDirCount(search::kTrue), 0);
}

// Fixed drives are searched in table order, the counters running on. Folder
// "/" is searched exactly as it is counted: drive by drive, entering no mount
// point from a drive. Shares and FUSE mounts of unknown type are
// never entered, not even from a plain folder, which does enter a tmpfs.
TEST_F(FakeDrives, SlashSearchedAsCountedUnsafeMountsLeftAlone) {
    const std::string r = t.root();
    std::ofstream(t.path("mounts"), std::ios::app) << "host:/s " + r + "/c/share nfs4 rw 0 0\nrclone: " + r +
                                                          "/c/fz fuse.rclone rw 0 0\nbig " + r + "/c/tmp tmpfs rw 0 0\n";
    for (const char* f : {"c/a.exe", "c/share/n.exe", "c/fz/f.exe", "c/tmp/t.exe", "d e/c.exe", "stick/x.exe", "cd/x.exe",
                          "net/x.exe"})
        t.file(f);
    EXPECT_EQ(platform::GetDriveTypeA(t.path("c/share")), platform::DRIVE_REMOTE);
    EXPECT_EQ(platform::GetDriveTypeA(t.path("c/fz")), platform::DRIVE_UNKNOWN);
    std::string mask = "*.exe";
    search::VBBool recurse = search::kTrue;
    const int32_t count = 5 + 2;  // c: . .. fz share tmp; d e: . ..; tmp: . ..
    const Texts drives = {t.path("c/a.exe"), t.path("d e/c.exe")};
    for (const auto& [folder, files] : {std::pair{""s, drives}, {"/"s, drives}, {t.path("c"), Texts{t.path("c/a.exe"), t.path("c/tmp/t.exe")}}}) {
        SCOPED_TRACE(folder.empty() ? "all drives" : folder);
        rec = Recorder{};
        if (folder.empty()) core.SearchSystemForFiles(mask);
        else core.SearchForFiles(folder, recurse, mask);
        EXPECT_EQ(rec.files, files);
        EXPECT_EQ(rec.fileCounts, (std::vector<int32_t>{1, 2}));
        ASSERT_TRUE(rec.dirCount);
        EXPECT_EQ(*rec.dirCount, count);
        EXPECT_EQ(core.GetDirCount(search::kFalse, folder.empty() ? "/" : folder), count);
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
