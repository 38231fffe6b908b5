// GetLogicalDriveStringsA / GetDriveTypeA over the mount table. A "drive" is
// a mount point; its root text ends with '/' ("/", "/home/").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum : uint32_t {
    DRIVE_UNKNOWN = 0,
    DRIVE_NO_ROOT_DIR = 1,
    DRIVE_REMOVABLE = 2,
    DRIVE_FIXED = 3,
    DRIVE_REMOTE = 4,
    DRIVE_CDROM = 5,
    DRIVE_RAMDISK = 6,
};

// Fills buffer with the roots of the mounted folders, each followed by a NUL,
// and a second NUL after the last; virtual file systems are left out, and a
// device mounted at several places is listed once, at its first mount point
// in the table. Returns the length written without the final NUL; when the
// list does not fit in bufferLength characters nothing is written and the
// size needed (with the final NUL) is returned, as on Windows. 0 when the
// mount table cannot be read. buffer may be null when bufferLength is 0.
uint32_t GetLogicalDriveStringsA(uint32_t bufferLength, char* buffer);

// The kind of the drive whose root is root (with or without its final '/'):
// DRIVE_FIXED for a local block device that is not removable (and for the
// overlay or zfs file system a container or a pool mounts as "/"),
// DRIVE_REMOVABLE, DRIVE_CDROM (iso9660, udf), DRIVE_REMOTE (nfs, cifs,
// smb3, sshfs, 9p), DRIVE_RAMDISK (tmpfs, ramfs), DRIVE_UNKNOWN for other
// file systems, DRIVE_NO_ROOT_DIR when root is not a mount point.
uint32_t GetDriveTypeA(const std::string& root);

struct MountEntry {
    std::string source;
    std::string point;  // without a final '/', except "/"
    std::string type;
};

// One reading of the mount table. A current one (the default) is used by
// every drive call this thread makes while it lives, so that one search reads
// the table once; current readings nest, the innermost is used.
class MountTableReading {
public:
    explicit MountTableReading(bool current = true);
    ~MountTableReading();
    MountTableReading(const MountTableReading&) = delete;
    MountTableReading& operator=(const MountTableReading&) = delete;
    bool Read() const { return read_; }  // false when the table could not be read
    const std::vector<MountEntry>& Mounts() const { return mounts_; }

private:
    std::vector<MountEntry> mounts_;
    bool read_;
    bool current_;
    MountTableReading* previous_;
};

// Pseudo file systems (proc, sysfs ...) that hold no files of the user.
bool IsVirtualFileSystemType(std::string_view type);
// True for a mount point that must never be examined, not even by stat:
// network file systems and FUSE file systems not known to be local (a dead
// server or daemon blocks the caller), and every mount point below one.
bool MustNotExamine(const MountEntry& m, const std::vector<MountEntry>& all);

// Tests read a mount table and a /sys tree of their own; empty texts bring
// back /proc/self/mounts and /sys.
void SetDriveSources(const std::string& mountTable, const std::string& sysRoot);

}  // namespace platform
