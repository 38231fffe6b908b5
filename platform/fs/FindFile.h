// Folder enumeration behind the find-data shape of Windows. A folder is read
// whole, in name order; its entries are then served from memory.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr int FindExInfoStandard = 0;
inline constexpr int FindExSearchLimitToDevices = 2;

struct WIN32_FIND_DATAA {
    uint32_t dwFileAttributes = 0;
    char cFileName[260] = {};
};

struct FindHandle;
using HANDLE = FindHandle*;
class FindMemo;
inline constexpr HANDLE INVALID_HANDLE_VALUE = nullptr;

// The open folders of one walk. While a session lives, the enumerations this
// thread opens belong to it:
// - a folder whose text is an open folder's text plus one name is opened
//   relative to that folder's open handle, so a walk reaches any depth,
//   whatever the length of its path text;
// - a folder already walked in the session (same device and inode, as
//   through a bind mount) is not walked again;
// - the mount table is read once; mount points of network and unknown FUSE
//   file systems met in the walk are never opened nor examined.
// The session releases everything it holds when it ends, also when a handler
// threw while enumerations were open. Sessions nest; the innermost is used.
// Without a session each enumeration has a private one.
class FindSession {
public:
    FindSession();
    ~FindSession();
    FindSession(const FindSession&) = delete;
    FindSession& operator=(const FindSession&) = delete;
    // Called after each block of entries read from a folder, so that a
    // caller stays responsive inside a very large folder.
    void SetProgress(std::function<void()> progress);
    // A walk that enters every subfolder: they are read ahead of it on
    // threads that only read folders (never calling back), nearest first.
    void ReadAhead(bool on);
    // Every folder the session reads is kept in memo, as far as its budget
    // goes (a count keeps what it read for the walk after it).
    void KeepReadings(FindMemo& memo);
    // Folders kept in memo are taken from there instead of being read again.
    void UseReadings(FindMemo& memo);
    // Folders the session's walks did not enter because they lie deeper
    // than the walk follows (kMaxDepth levels below where it began).
    long FoldersTooDeep() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// pattern: a folder path, '/', then a wildcard ("/usr/lib/*.*"). Entries come
// in name order, "." and ".." first, then case-insensitively (upper-case, as
// NTFS sorts), ties by bytes. A symbolic link is reported as a file, so a
// walk never follows one into a folder.
// INVALID_HANDLE_VALUE when the folder cannot be read, when it is on a
// virtual file system (proc, sysfs ...), when a device limit is in force and
// the folder is on another device or is another mount point, when the
// session walked the folder already (a bind mount), when it is nested deeper
// than the walk follows (2,048 levels: counted by the session), or when no
// entry matches.
// While an enumeration of a folder is open, a second one of the same folder
// text is served from the same reading instead of reading the folder again.
HANDLE FindFirstFileA(const std::string& pattern, WIN32_FIND_DATAA& data);
HANDLE FindFirstFileExA(const std::string& pattern, int infoLevel, WIN32_FIND_DATAA& data, int searchOp,
                        void* filter, uint32_t flags);
bool FindNextFileA(HANDLE h, WIN32_FIND_DATAA& data);
bool FindClose(HANDLE h);

// Readers ahead start with a walk's first folder instead of once the device
// proves slow (tests use it to walk a cached tree as a cold one).
void ReadAheadFromTheStart(bool on);

// Opens a file the walk found (open(2) flags): relative to the open handle of
// its folder while the current session holds it, else by its path, a folder
// at a time when the path is longer than PATH_MAX. -1 with errno on failure.
int OpenFoundFile(const std::string& path, int flags);

// Closes an enumeration on every way out of a scope.
struct FindCloser {
    void operator()(FindHandle* h) const { FindClose(h); }
};
using FindGuard = std::unique_ptr<FindHandle, FindCloser>;

// Keeps the current session's enumerations on the device of root while the
// object lives, so that walking a drive stays on its file system (mount
// points below root are not entered). The previous limit comes back at the
// end. A root that cannot be examined lets nothing be enumerated. Without a
// session it has no effect.
class FindDeviceLimit {
public:
    explicit FindDeviceLimit(const std::string& root);
    ~FindDeviceLimit();
    FindDeviceLimit(const FindDeviceLimit&) = delete;
    FindDeviceLimit& operator=(const FindDeviceLimit&) = delete;

private:
    FindSession::State* session_;
    bool hadLimit_;
    dev_t previous_;
    std::string previousRoot_;
};

}  // namespace platform
