// The readers ahead of a walk: each folder handed over whole and in name
// order, the walk free to skip what it does not enter, and every handle
// given back in the end.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <algorithm>
#include <chrono>
#include <thread>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TempTree.h"
#include "platform/fs/FolderReaders.h"

using platform::FolderEntries;
using platform::FolderReaders;
using platform::WalkPlace;

namespace {

int OpenFolders() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

Texts Names(const FolderEntries& e) {
    Texts out;
    for (const auto& it : e.items) out.emplace_back(e.Name(it));
    return out;
}

// The walk: every folder in name order, files before subfolders; skip says
// which folders it does not enter. Returns the folders in the order met and
// how many a reader had ready.
struct Walker {
    Walker(FolderReaders& r, std::function<bool(const std::string&)> s) : readers(r), skip(std::move(s)) {}
    FolderReaders& readers;
    std::function<bool(const std::string&)> skip;
    Texts met;
    int handed = 0;
    std::vector<char> buffer = std::vector<char>(4096);  // small: several readings for a large folder

    void Enter(const std::string& folder, int fd, FolderEntries& entries, const WalkPlace& place) {
        met.push_back(folder);
        // A walk does work at each folder (the engine reads its files): the
        // readers get ahead meanwhile, even on a busy machine.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        for (std::size_t i = 0; i < entries.items.size(); ++i) {
            const auto& it = entries.items[i];
            const std::string name(entries.Name(it));
            if (!it.dir || name == "." || name == ".." || skip(folder + name + "/")) continue;
            WalkPlace sub = place;
            sub.push_back(static_cast<uint32_t>(i));
            const std::string text = folder + name + "/";
            if (auto r = readers.Take(text, sub, nullptr)) {
                ++handed;
                struct stat st {};
                EXPECT_EQ(::fstat(r->fd, &st), 0);
                EXPECT_EQ(std::pair(st.st_dev, st.st_ino), std::pair(r->st.st_dev, r->st.st_ino)) << text;
                EXPECT_EQ(r->place, sub);
                Check(text, r->entries);
                Enter(text, r->fd, r->entries, sub);
            } else {
                const int own = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
                ASSERT_GE(own, 0) << text;
                FolderEntries e;
                ASSERT_TRUE(e.Read(own, buffer.data(), buffer.size(), nullptr, nullptr));
                e.Sort();
                Check(text, e);
                readers.Expect(text, own, e, sub, 64);
                Enter(text, own, e, sub);
                ::close(own);
            }
        }
    }
    static void Check(const std::string& folder, const FolderEntries& e) {
        Texts want{".", ".."};
        Texts names;
        for (const auto& d : std::filesystem::directory_iterator(folder)) names.push_back(d.path().filename());
        std::sort(names.begin(), names.end(), platform::FolderNameLess);
        want.insert(want.end(), names.begin(), names.end());
        EXPECT_EQ(Names(e), want) << folder;
    }
};

}  // namespace

TEST(ReadAhead, EveryFolderWholeInWalkOrderSkippedOnesLetGo) {
    TempTree t;
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 5; ++j)
            for (const char* leaf : {"a", "B", "c/d"}) t.dir("p" + std::to_string(i) + "/Q" + std::to_string(j) + "/" + leaf);
    for (int i = 0; i < 300; ++i) t.file("p2/many/" + std::string(60, 'f') + std::to_string(i), "");
    const std::string root = t.root() + "/";
    const int before = OpenFolders();
    for (const bool skipSome : {false, true}) {
        SCOPED_TRACE(skipSome ? "skipping p1 and every B" : "entering all");
        const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
        FolderEntries top;
        std::vector<char> buffer(4096);
        ASSERT_TRUE(top.Read(fd, buffer.data(), buffer.size(), nullptr, nullptr));
        top.Sort();
        Texts met;
        {
            // A window of four readings: the readers wait for the walk often.
            FolderReaders readers(3, 4);
            readers.Expect(root, fd, top, {0}, 64);
            Walker w(readers, [&](const std::string& f) {
                return skipSome && (f.ends_with("/p1/") || f.ends_with("/B/"));
            });
            w.Enter(root, fd, top, {0});
            met = w.met;
            EXPECT_GT(w.handed, 0) << "no folder came from a reader";
        }
        ::close(fd);
        // The order a plain recursive walk in name order meets them in.
        Texts want;
        std::function<void(const std::string&)> plain = [&](const std::string& f) {
            want.push_back(f);
            Texts subs;
            for (const auto& d : std::filesystem::directory_iterator(f))
                if (d.is_directory()) subs.push_back(d.path().filename());
            std::sort(subs.begin(), subs.end(), platform::FolderNameLess);
            for (const auto& s : subs) {
                const std::string sub = f + s + "/";
                if (!(skipSome && (sub.ends_with("/p1/") || sub.ends_with("/B/")))) plain(sub);
            }
        };
        plain(root);
        EXPECT_EQ(met, want);
        EXPECT_EQ(OpenFolders(), before) << "a handle was kept";
    }
}
