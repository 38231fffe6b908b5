// Folder enumeration behind the find-data shape of Windows. A folder is read
// whole, in name order, and closed at once; its entries are then served from
// memory, so no directory stays open while subtrees are walked.
#pragma once

#include <sys/types.h>

#include <cstdint>
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
inline constexpr HANDLE INVALID_HANDLE_VALUE = nullptr;

// pattern: a folder path, '/', then a wildcard ("/usr/lib/*.*"). Entries come
// in name order, "." and ".." first, then case-insensitively (upper-case, as
// NTFS sorts), ties by bytes. A symbolic link is reported as a file, so a
// walk never follows one into a folder.
// INVALID_HANDLE_VALUE when the folder cannot be read, when it is on a
// virtual file system (proc, sysfs ...), when a device limit is in force and
// the folder is on another device, when the folder is one that an open
// enumeration already lists under another path (a bind-mount loop), or when
// no entry matches.
// While an enumeration of a folder is open, a second one of the same folder
// text is served from the same reading instead of reading the folder again.
HANDLE FindFirstFileA(const std::string& pattern, WIN32_FIND_DATAA& data);
HANDLE FindFirstFileExA(const std::string& pattern, int infoLevel, WIN32_FIND_DATAA& data, int searchOp,
                        void* filter, uint32_t flags);
bool FindNextFileA(HANDLE h, WIN32_FIND_DATAA& data);
bool FindClose(HANDLE h);

// Keeps enumerations on the device of root while the object lives, so that
// walking a drive stays on its file system. The previous limit comes back at
// the end. A root that cannot be examined lets nothing be enumerated.
class FindDeviceLimit {
public:
    explicit FindDeviceLimit(const std::string& root);
    ~FindDeviceLimit();
    FindDeviceLimit(const FindDeviceLimit&) = delete;
    FindDeviceLimit& operator=(const FindDeviceLimit&) = delete;

private:
    bool hadLimit_;
    dev_t previous_;
};

}  // namespace platform
