#include "platform/FindFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Wildcard.h"

namespace platform {

namespace {

// One reading of a folder: names back to back, each NUL-terminated, and an
// index sorted in name order. Kept small and reused, since a walk makes one
// per folder.
struct Listing {
    struct Item {
        uint32_t offset;
        uint16_t length;
        bool dir;
    };
    std::string folder;
    dev_t dev = 0;
    ino_t ino = 0;
    std::vector<char> names;
    std::vector<Item> items;
    int users = 0;

    std::string_view Name(const Item& it) const { return {names.data() + it.offset, it.length}; }
};

struct State {
    std::vector<Listing*> open;                      // listings of open enumerations, outermost first
    std::vector<std::unique_ptr<Listing>> spare;     // released listings, kept for their buffers
    std::vector<std::pair<dev_t, bool>> virtualDev;  // device -> on a virtual file system
    bool limited = false;
    dev_t limit = 0;
    std::unique_ptr<char[]> buffer;
};

thread_local State g_state;
constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kMaxSpare = 16;

bool IsVirtualFileSystem(uint32_t type) {
    // Magic numbers of the pseudo file systems a walk must never enter.
    static constexpr uint32_t kVirtual[] = {
        0x9fa0,      // proc
        0x62656572,  // sysfs
        0x1cd1,      // devpts
        0x27e0eb,    // cgroup
        0x63677270,  // cgroup2
        0x74726163,  // tracefs
        0x64626720,  // debugfs
        0x73636673,  // securityfs
        0x6165676c,  // pstore
        0xcafe4a11,  // bpf
        0x65735543,  // fusectl
        0x62656570,  // configfs
        0x19800202,  // mqueue
        0x958458f6,  // hugetlbfs
        0x0187,      // autofs
        0x42494e4d,  // binfmt_misc
    };
    return std::find(std::begin(kVirtual), std::end(kVirtual), type) != std::end(kVirtual);
}

// devtmpfs gives the magic number of tmpfs: tell them apart by the type
// name the mount table has for the device.
bool IsDevTmpfs(dev_t dev) {
    std::ifstream in("/proc/self/mountinfo");
    const std::string id = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    std::string line;
    while (std::getline(in, line)) {
        // "36 35 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw"
        std::istringstream fields(line);
        std::string mountId, parentId, number, word;
        if (!(fields >> mountId >> parentId >> number) || number != id) continue;
        while (fields >> word && word != "-") {
        }
        if (fields >> word && word == "devtmpfs") return true;
    }
    return false;
}

// Asked once per device and walk: device numbers of unmounted file systems
// are handed out again, so the answers are forgotten when no enumeration is open.
bool OnVirtualFileSystem(int fd, dev_t dev) {
    for (const auto& [d, v] : g_state.virtualDev)
        if (d == dev) return v;
    constexpr uint32_t kTmpfs = 0x01021994, kRamfs = 0x858458f6;
    struct statfs fs {};
    bool v = true;
    if (::fstatfs(fd, &fs) == 0) {
        const auto type = static_cast<uint32_t>(fs.f_type);
        v = IsVirtualFileSystem(type) || ((type == kTmpfs || type == kRamfs) && IsDevTmpfs(dev));
    }
    g_state.virtualDev.emplace_back(dev, v);
    return v;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

int Rank(std::string_view n) { return n == "." ? 0 : n == ".." ? 1 : 2; }

bool NameLess(std::string_view a, std::string_view b) {
    const int ra = Rank(a), rb = Rank(b);
    if (ra != rb || ra < 2) return ra < rb;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = Upper(a[i]), y = Upper(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

struct LinuxDirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

// Reads every entry of the open folder fd into l. False on a read error.
bool ReadFolder(int fd, Listing& l) {
    if (!g_state.buffer) g_state.buffer = std::make_unique<char[]>(kBufferSize);
    char* buf = g_state.buffer.get();
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, buf, kBufferSize);
        if (got < 0) return false;
        if (got == 0) return true;
        const std::size_t size = static_cast<std::size_t>(got);
        for (std::size_t pos = 0; pos + offsetof(LinuxDirent64, d_name) < size;) {
            auto* d = reinterpret_cast<const LinuxDirent64*>(buf + pos);
            const std::size_t reclen = d->d_reclen;
            if (reclen <= offsetof(LinuxDirent64, d_name) || pos + reclen > size) return false;
            const std::size_t nameMax = reclen - offsetof(LinuxDirent64, d_name);
            const std::size_t len = ::strnlen(d->d_name, nameMax);
            pos += reclen;
            if (len == 0 || len > 255) continue;
            bool dir = d->d_type == DT_DIR;
            if (d->d_type == DT_UNKNOWN) {
                struct stat st {};
                dir = ::fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
            }
            if (l.names.size() > UINT32_MAX - 256) return false;
            l.items.push_back({static_cast<uint32_t>(l.names.size()), static_cast<uint16_t>(len), dir});
            l.names.insert(l.names.end(), d->d_name, d->d_name + len);
            l.names.push_back('\0');
        }
    }
}

Listing* NewListing() {
    if (g_state.spare.empty()) return new Listing;
    Listing* l = g_state.spare.back().release();
    g_state.spare.pop_back();
    l->names.clear();
    l->items.clear();
    return l;
}

void Release(Listing* l) {
    if (--l->users > 0) return;
    auto& open = g_state.open;
    if (const auto it = std::find(open.begin(), open.end(), l); it != open.end()) open.erase(it);
    if (open.empty()) g_state.virtualDev.clear();
    if (g_state.spare.size() < kMaxSpare && l->names.capacity() <= kBufferSize * 4)
        g_state.spare.emplace_back(l);
    else
        delete l;
}

// The folder's reading: one already held by an open enumeration of the same
// folder text, or a fresh one. Null when the folder may not be enumerated.
Listing* Acquire(const std::string& folder) {
    auto& open = g_state.open;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if ((*it)->folder == folder) {
            ++(*it)->users;
            return *it;
        }

    if (folder.find('\0') != std::string::npos) return nullptr;  // would open another folder
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && (!g_state.limited || st.st_dev == g_state.limit) &&
              !OnVirtualFileSystem(fd, st.st_dev);
    for (const Listing* l : open)
        if (ok && l->dev == st.st_dev && l->ino == st.st_ino) ok = false;  // already being walked
    Listing* l = nullptr;
    if (ok) {
        l = NewListing();
        if (!ReadFolder(fd, *l)) {
            g_state.spare.emplace_back(l);
            l = nullptr;
        }
    }
    ::close(fd);
    if (!l) {
        if (open.empty()) g_state.virtualDev.clear();
        return nullptr;
    }
    l->folder = folder;
    l->dev = st.st_dev;
    l->ino = st.st_ino;
    l->users = 1;
    std::sort(l->items.begin(), l->items.end(),
              [l](const Listing::Item& a, const Listing::Item& b) { return NameLess(l->Name(a), l->Name(b)); });
    open.push_back(l);
    return l;
}

}  // namespace

struct FindHandle {
    Listing* listing;
    std::string spec;
    bool all;
    std::size_t next = 0;
};

namespace {

bool Serve(FindHandle& h, WIN32_FIND_DATAA& data) {
    const auto& items = h.listing->items;
    while (h.next < items.size()) {
        const Listing::Item& it = items[h.next++];
        const std::string_view name = h.listing->Name(it);
        if (!h.all && !PathMatchSpecA(name, h.spec)) continue;
        data.dwFileAttributes = it.dir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        std::memcpy(data.cFileName, name.data(), name.size());  // at most 255 bytes
        data.cFileName[name.size()] = '\0';
        return true;
    }
    return false;
}

}  // namespace

HANDLE FindFirstFileA(const std::string& pattern, WIN32_FIND_DATAA& data) {
    const auto slash = pattern.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string("./") : pattern.substr(0, slash + 1);
    std::string spec = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (spec.empty()) return INVALID_HANDLE_VALUE;

    Listing* l = Acquire(folder);
    if (!l) return INVALID_HANDLE_VALUE;
    const bool all = spec == "*" || spec == "*.*";
    auto* h = new FindHandle{l, std::move(spec), all};
    if (!Serve(*h, data)) {
        FindClose(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

HANDLE FindFirstFileExA(const std::string& pattern, int, WIN32_FIND_DATAA& data, int, void*, uint32_t) {
    return FindFirstFileA(pattern, data);
}

bool FindNextFileA(HANDLE h, WIN32_FIND_DATAA& data) { return h && Serve(*h, data); }

bool FindClose(HANDLE h) {
    if (!h) return false;
    Release(h->listing);
    delete h;
    return true;
}

FindDeviceLimit::FindDeviceLimit(const std::string& root)
    : hadLimit_(g_state.limited), previous_(g_state.limit) {
    struct stat st {};
    // A root that cannot be examined: a device number no folder has.
    g_state.limit = ::stat(root.c_str(), &st) == 0 ? st.st_dev : static_cast<dev_t>(-1);
    g_state.limited = true;
}

FindDeviceLimit::~FindDeviceLimit() {
    g_state.limited = hadLimit_;
    g_state.limit = previous_;
}

}  // namespace platform
