#include "platform/fs/Drives.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

namespace platform {

namespace {

std::string g_mountTable;
std::string g_sysRoot;

const std::string& MountTable() {
    static const std::string kDefault = "/proc/self/mounts";
    return g_mountTable.empty() ? kDefault : g_mountTable;
}
const std::string& SysRoot() {
    static const std::string kDefault = "/sys";
    return g_sysRoot.empty() ? kDefault : g_sysRoot;
}

using Mount = MountEntry;
thread_local MountTableReading* g_reading = nullptr;

// The table escapes blanks, tabs, new lines and backslashes as \ooo.
std::string Unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            const char a = s[i + 1], b = s[i + 2], c = s[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

bool ReadTable(std::vector<Mount>& mounts) {
    std::ifstream in(MountTable());
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::string_view rest = line;
        std::string_view field[3];
        bool complete = true;
        for (auto& f : field) {
            const auto start = rest.find_first_not_of(" \t");
            if (start == std::string_view::npos) {
                complete = false;
                break;
            }
            rest.remove_prefix(start);
            const auto end = std::min(rest.find_first_of(" \t"), rest.size());
            f = rest.substr(0, end);
            rest.remove_prefix(end);
        }
        if (!complete || field[1].empty() || field[1][0] != '/') continue;
        std::string point = Unescape(field[1]);
        while (point.size() > 1 && point.back() == '/') point.pop_back();
        mounts.push_back({Unescape(field[0]), std::move(point), std::string(field[2])});
    }
    return true;
}

// The current reading when there is one, else a fresh one.
bool ReadMounts(std::vector<Mount>& mounts) {
    if (!g_reading) return ReadTable(mounts);
    mounts = g_reading->Mounts();
    return g_reading->Read();
}

bool IsVirtualType(std::string_view t) {
    static constexpr std::string_view kVirtual[] = {
        "proc",     "sysfs",   "devtmpfs", "devpts",    "cgroup",      "cgroup2",
        "tracefs",  "debugfs", "securityfs", "pstore",  "bpf",         "fusectl",
        "configfs", "mqueue",  "hugetlbfs", "autofs",   "binfmt_misc", "efivarfs",
        "rpc_pipefs", "nsfs",
    };
    return std::find(std::begin(kVirtual), std::end(kVirtual), t) != std::end(kVirtual);
}

bool IsNetworkType(std::string_view t) {
    return t.starts_with("nfs") || t == "cifs" || t == "smb3" || t == "smbfs" || t == "sshfs" ||
           t == "fuse.sshfs" || t == "9p" || t == "afs" || t == "ceph" || t == "glusterfs" ||
           t == "fuse.glusterfs";
}

// FUSE file systems backed by a local block device (ntfs-3g, exfat).
bool IsUnknownFuseType(std::string_view t) { return t != "fuseblk" && (t == "fuse" || t.starts_with("fuse.")); }

bool ReadFlag(const std::string& path, bool& value) {
    std::ifstream in(path);
    char c = 0;
    if (!(in >> c)) return false;
    value = c != '0';
    return true;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// removable flag of the disk under a block device folder of /sys; a
// partition's flag is its parent disk's.
bool RemovableAt(const std::string& devFolder, bool& removable) {
    if (ReadFlag(devFolder + "/removable", removable)) return true;
    if (Exists(devFolder + "/partition")) return ReadFlag(devFolder + "/../removable", removable);
    return false;
}

// The device name of a /dev source, through its links (/dev/mapper/x, /dev/disk/by-uuid/...).
std::string DeviceName(const std::string& source) {
    std::string path = source;
    struct stat st {};
    if (::lstat(source.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(source.c_str(), nullptr)) {
            path = real;
            std::free(real);
        }
    }
    return path.substr(path.rfind('/') + 1);
}

// below: the mount point lies below one that must not be examined.
uint32_t TypeOf(const Mount& m, bool below) {
    const std::string& t = m.type;
    if (IsVirtualType(t)) return DRIVE_UNKNOWN;
    if (IsNetworkType(t)) return DRIVE_REMOTE;
    if (t == "iso9660" || t == "udf") return DRIVE_CDROM;
    if (t == "tmpfs" || t == "ramfs") return DRIVE_RAMDISK;
    // A container's root and a pool's datasets have no block device of their own.
    if ((t == "overlay" && m.point == "/") || t == "zfs") return DRIVE_FIXED;
    if (!m.source.starts_with("/dev/") || IsUnknownFuseType(t)) return DRIVE_UNKNOWN;

    bool removable = false;
    const std::string name = DeviceName(m.source);
    bool known = !name.empty() && name != "." && name != ".." &&
                 RemovableAt(SysRoot() + "/class/block/" + name, removable);
    if (!known && !below) {
        // Sources such as /dev/root name no device: ask by the mount point's device number.
        struct stat st {};
        if (::stat(m.point.c_str(), &st) == 0)
            known = RemovableAt(SysRoot() + "/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                                    std::to_string(minor(st.st_dev)),
                                removable);
    }
    if (!known) return DRIVE_UNKNOWN;
    return removable ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

// Device identity for "each device once": the /dev node and the device
// number of the mount point, so that bind mounts of one file system count
// once while btrfs subvolumes of one disk (numbers of their own) stay apart.
// Other sources name no device: every tmpfs or share is a file system of its
// own. Network and FUSE mount points are never examined: a dead server would
// hang us.
bool DeviceKey(const Mount& m, const std::vector<Mount>& all, std::string& key) {
    key = "at:" + m.point;
    if (MustNotExamine(m, all)) return true;
    struct stat st {};
    // A file bind-mounted over a file (a container's /etc/hosts) is no drive.
    if (::stat(m.point.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (m.source.starts_with("/dev/")) key = "dev:" + DeviceName(m.source) + ":" + std::to_string(st.st_dev);
    return true;
}

std::string WithSlash(std::string s) {
    if (s.empty() || s.back() != '/') s.push_back('/');
    return s;
}

std::string WithoutSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

bool HasMountAt(const std::vector<Mount>& mounts, std::string_view point) {
    return std::any_of(mounts.begin(), mounts.end(), [&](const Mount& m) { return m.point == point; });
}

}  // namespace

MountTableReading::MountTableReading(bool current)
    : read_(ReadTable(mounts_)), current_(current), previous_(g_reading) {
    if (current_) g_reading = this;
}

MountTableReading::~MountTableReading() {
    if (current_) g_reading = previous_;
}

bool IsVirtualFileSystemType(std::string_view type) { return IsVirtualType(type); }

bool MustNotExamine(const MountEntry& m, const std::vector<MountEntry>& all) {
    const auto unsafe = [](const MountEntry& e) { return IsNetworkType(e.type) || IsUnknownFuseType(e.type); };
    if (unsafe(m)) return true;
    for (const MountEntry& e : all) {
        if (!unsafe(e) || e.point == m.point) continue;
        const std::string_view p = m.point;
        if (p.starts_with(e.point) && (e.point == "/" || (p.size() > e.point.size() && p[e.point.size()] == '/')))
            return true;
    }
    return false;
}

void SetDriveSources(const std::string& mountTable, const std::string& sysRoot) {
    g_mountTable = mountTable;
    g_sysRoot = sysRoot;
}

uint32_t GetLogicalDriveStringsA(uint32_t bufferLength, char* buffer) {
    std::vector<Mount> mounts;
    if (!ReadMounts(mounts)) return 0;
    std::string list;
    std::vector<std::string> seen;
    // In a chroot or some containers the root is no mount point of its own,
    // yet it is the first drive the process sees.
    if (!HasMountAt(mounts, "/")) {
        list += "/";
        list.push_back('\0');
        seen.push_back("at:/");
    }
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        const Mount& m = mounts[i];
        // Only the last mount at a point is in force.
        if (std::any_of(mounts.begin() + static_cast<std::ptrdiff_t>(i) + 1, mounts.end(),
                        [&m](const Mount& later) { return later.point == m.point; }))
            continue;
        std::string key;
        if (IsVirtualType(m.type) || !DeviceKey(m, mounts, key)) continue;
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
        seen.push_back(std::move(key));
        list += WithSlash(m.point);
        list.push_back('\0');
    }
    if (list.size() + 1 > UINT32_MAX) return 0;
    const auto needed = static_cast<uint32_t>(list.size() + 1);
    if (!buffer || bufferLength < needed) return needed;
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return needed - 1;
}

uint32_t GetDriveTypeA(const std::string& root) {
    if (root.empty() || root.find_first_not_of(' ') == std::string::npos) return DRIVE_NO_ROOT_DIR;
    std::vector<Mount> mounts;
    if (!ReadMounts(mounts)) return DRIVE_UNKNOWN;
    const std::string point = WithoutSlash(root);
    // The last mount at a point is the one in force.
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
        if (it->point == point) return TypeOf(*it, MustNotExamine(*it, mounts));
    return point == "/" ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}

}  // namespace platform
