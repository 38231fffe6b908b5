// Folder readings and the threads that make them ahead of a walk.
//
// A walk meets folders one at a time, and on a cold disk each reading waits
// for the device alone. FolderReaders reads the folders the walk will enter
// next on threads of their own, nearest first in the walk's order, and
// hands each reading over whole: its open handle, what fstat said and its
// entries in name order. The threads only read folders; they never call
// back into the walk, so every event of a walk still comes from its own
// thread, in the same order.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {

// The entries of one folder: names back to back, each NUL-terminated, and an
// index of them.
struct FolderEntries {
    struct Item {
        uint32_t offset;
        uint16_t length;
        bool dir;
    };
    std::vector<char> names;
    std::vector<Item> items;

    std::string_view Name(const Item& it) const { return {names.data() + it.offset, it.length}; }
    void Clear() {
        names.clear();
        items.clear();
    }
    // Reads every entry of the open folder fd through buffer. An entry whose
    // type the file system does not give is examined, unless unexamined(name)
    // says it must not be (it then counts as a folder). carryOn, when set,
    // runs after each block; false from it stops the reading. wholeReads: the
    // file system fills the buffer as far as the folder's entries go, so a
    // reading that leaves room for another entry is the last. False on a
    // read error or when stopped.
    bool Read(int fd, char* buffer, std::size_t size, const std::function<bool(std::string_view)>& unexamined,
              const std::function<bool()>& carryOn, bool wholeReads = false);
    // Name order: "." and ".." first, then case-insensitively (upper-case,
    // as NTFS sorts), ties by bytes.
    void Sort();
    // The index of the entry called name, or -1.
    long Find(std::string_view name) const;
};

bool FolderNameLess(std::string_view a, std::string_view b);

// A folder's place in the walk: the indices of the entries that lead to it
// from where the walk began. Places compare in the walk's order.
using WalkPlace = std::vector<uint32_t>;

class FolderReaders {
public:
    // threads readers; at most window readings wait for the walk at a time.
    FolderReaders(unsigned threads, std::size_t window);
    ~FolderReaders();
    FolderReaders(const FolderReaders&) = delete;
    FolderReaders& operator=(const FolderReaders&) = delete;

    struct Reading {
        int fd = -1;
        struct stat st {};
        FolderEntries entries;
        WalkPlace place;
        Reading() = default;
        Reading(const Reading&) = delete;
        Reading& operator=(const Reading&) = delete;
        ~Reading();
    };

    // The subfolders of a folder the walk holds open are to be read ahead,
    // and theirs in turn: folder is its text ending in '/', fd its handle
    // (duplicated, not kept), place its place in the walk. The readers go no
    // deeper than depthLeft levels below it.
    void Expect(const std::string& folder, int fd, const FolderEntries& entries, const WalkPlace& place, int depthLeft);
    // The walk has come to folder, at place: its reading once a reader has
    // made it (waiting while one makes it, calling waiting every 20 ms). Null
    // when no reader has begun it: the caller reads it. Every reading before
    // place in the walk's order is given up, and the readers go on after it.
    std::unique_ptr<Reading> Take(const std::string& folder, const WalkPlace& place,
                                  const std::function<void()>& waiting);

private:
    struct Parent;
    struct Later {
        bool operator()(const std::shared_ptr<Parent>& a, const std::shared_ptr<Parent>& b) const;
    };
    static std::shared_ptr<Parent> MakeParent(const std::string& folder, int fd, const FolderEntries& entries,
                                              const WalkPlace& place, int depthLeft);
    void Push(std::shared_ptr<Parent> parent);
    bool Refill();
    void Work();
    bool DropBehind(const WalkPlace& place);
    bool PopJob(std::unique_lock<std::mutex>& lock, std::shared_ptr<Parent>& parent, std::size_t& index);

    std::mutex mutex_;
    std::condition_variable work_;  // a job or room for one, or the end
    std::condition_variable done_;  // a reading is made
    std::vector<std::shared_ptr<Parent>> queue_;  // a heap: the parent with the nearest next subfolder on top
    struct Slot {
        bool ready = false;
        std::unique_ptr<Reading> reading;
    };
    std::unordered_map<std::string, Slot> slots_;  // by folder text
    std::size_t window_;
    WalkPlace behind_;  // every place before it the walk has passed
    int waiters_ = 0;    // walks waiting for a reading
    bool full_ = false;  // the window filled up: the readers wait until half of it is taken
    bool stop_ = false;
    std::atomic<bool> cancelled_{false};  // stop_, read without the lock
    std::vector<std::thread> threads_;
};

}  // namespace platform
