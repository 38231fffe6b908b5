#include "platform/fs/FindFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/fs/Drives.h"
#include "platform/fs/FindMemo.h"
#include "platform/fs/FolderReaders.h"
#include "platform/fs/Wildcard.h"

namespace platform {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kMaxSpare = 16;
// Folders nested deeper than this are not entered: every level costs the
// walk some stack, and a hostile tree can be far deeper than any real one.
constexpr int kMaxDepth = 2048;
// Open folder handles a session keeps at most; outer levels give theirs up
// and take them back through ".." when the walk returns to them.
constexpr int kMaxHeldHandles = 48;
// Threads that read folders ahead of a walk, and how many readings may wait
// for it (each holds an open handle). They start once a few folders took a
// device's time rather than the cache's: from the cache one thread reads
// faster than several.
constexpr unsigned kReaders = 8;
constexpr std::chrono::microseconds kSlowRead{300};
constexpr std::chrono::microseconds kSlowReadPerEntry{2};
constexpr int kSlowReadsToStart = 4;
constexpr std::size_t kReadAheadWindow = 128;

// One reading of a folder and what the walk keeps of it. Kept small and
// reused, since a walk makes one per folder.
struct Listing : FolderEntries {
    std::string folder;  // the text it was asked by, ending in '/'
    std::string real;    // its path from "/" without symbolic links; kept only where mount points lie below
    dev_t dev = 0;
    ino_t ino = 0;
    int fd = -1;  // its open handle, -1 when given up
    Listing* parent = nullptr;  // the folder it was opened relative to; holds one use of it
    int depth = 0;
    bool watch = false;  // mount points may lie below: keep real up to date
    WalkPlace place;     // where the walk met it, for the readers ahead
    int users = 0;

    Listing() = default;
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;
    ~Listing() { CloseHandle(); }
    void CloseHandle() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

struct DevIno {
    dev_t dev;
    ino_t ino;
    bool operator==(const DevIno&) const = default;
};
struct DevInoHash {
    std::size_t operator()(const DevIno& k) const {
        return std::hash<uint64_t>()(static_cast<uint64_t>(k.ino) * 0x9e3779b97f4a7c15ull ^ static_cast<uint64_t>(k.dev));
    }
};

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

std::string RealPath(const std::string& text) {
    if (char* real = ::realpath(text.c_str(), nullptr)) {
        std::string out = real;
        std::free(real);
        return out;
    }
    std::string out = text;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::string Join(const std::string& real, std::string_view name) {
    std::string out = real;
    if (out.empty() || out.back() != '/') out.push_back('/');
    out.append(name);
    return out;
}

bool Contains(const std::vector<std::string>& sorted, const std::string& s) {
    return std::binary_search(sorted.begin(), sorted.end(), s);
}

// True when some text of sorted lies strictly below the folder real.
bool AnyBelow(const std::vector<std::string>& sorted, const std::string& real) {
    const std::string prefix = real == "/" ? real : real + "/";
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), prefix);
    return it != sorted.end() && it->starts_with(prefix) && it->size() > prefix.size();
}

// Opens a folder whose path text is too long to be opened at once, one
// component at a time.
int OpenLongPath(const std::string& path) {
    Fd dir;
    int at = AT_FDCWD;
    if (path.front() == '/') {
        dir.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() < 0) return -1;
        at = dir.get();
    }
    std::size_t from = 0;
    for (;;) {
        from = path.find_first_not_of('/', from);
        if (from == std::string::npos) return -1;
        const std::size_t end = std::min(path.find('/', from), path.size());
        const std::string name = path.substr(from, end - from);
        const bool last = path.find_first_not_of('/', end) == std::string::npos;
        const int next = ::openat(at, name.c_str(), (last ? O_RDONLY : O_PATH) | O_DIRECTORY | O_CLOEXEC);
        if (next < 0) return -1;
        if (last) return next;
        dir.reset(next);
        at = next;
        from = end;
    }
}

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

}  // namespace

struct FindSession::State {
    explicit State(bool current);
    Listing* Acquire(const std::string& folder);
    void Release(Listing* l);
    bool OnVirtualFileSystem(int fd, dev_t dev);
    bool Refused(const std::string& real) const;
    bool ReadFolder(int fd, Listing& l);
    std::unique_ptr<Listing> NewListing();
    void MakeRoomForHandle();
    bool TakeKept(const std::string& folder, Listing& l, struct stat& st);
    bool Reopen(Listing& l);

    MountTableReading mounts;
    std::vector<std::unique_ptr<Listing>> open;      // listings in use, outermost first
    std::vector<std::unique_ptr<Listing>> spare;     // released listings, kept for their buffers
    struct Device {
        dev_t dev;
        bool virt;        // a virtual file system
        bool wholeReads;  // a reading that leaves room in the buffer is the folder's last
    };
    std::vector<Device> kinds;                       // what each device met so far is
    bool wholeReads = false;                         // of the device last examined
    std::vector<dev_t> devtmpfs;                     // devtmpfs has the magic number of tmpfs
    std::vector<dev_t> shared;                       // devices mounted at more than one place
    std::unordered_set<DevIno, DevInoHash> walked;   // folders of shared devices walked so far
    std::vector<std::string> avoid;                  // mount points never opened nor examined, sorted
    std::vector<std::string> points;                 // the other mount points, sorted
    bool limited = false;
    dev_t limit = 0;
    std::string limitRoot;
    int held = 0;  // listings holding their handle
    long tooDeep = 0;  // folders not entered for the depth limit
    std::string lastTooDeep;
    std::unique_ptr<char[]> buffer;
    std::function<void()> progress;
    bool readAhead = false;
    std::unique_ptr<FolderReaders> readers;  // started once the device, not the cache, answers
    uint32_t roots = 0;  // folders opened by their text: each begins a walk
    int slowReads = 0;   // folders that took the device's time to read
    FindMemo* keepIn = nullptr;
    FindMemo* takeFrom = nullptr;
    State* previous = nullptr;
};

namespace {
thread_local FindSession::State* g_current = nullptr;
std::atomic<bool> g_readAheadAtOnce{false};
}  // namespace

void ReadAheadFromTheStart(bool on) { g_readAheadAtOnce = on; }

FindSession::State::State(bool current) : mounts(current) {
    std::vector<std::pair<dev_t, int>> devices;
    for (const MountEntry& m : mounts.Mounts()) {
        const bool virt = IsVirtualFileSystemType(m.type);
        if (virt || MustNotExamine(m, mounts.Mounts())) {
            avoid.push_back(m.point);
            if (m.type != "devtmpfs") continue;
        } else {
            points.push_back(m.point);
        }
        struct stat st {};
        if (::stat(m.point.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (virt) {
            devtmpfs.push_back(st.st_dev);
            continue;
        }
        auto it = std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.first == st.st_dev; });
        if (it == devices.end()) devices.emplace_back(st.st_dev, 1);
        else if (++it->second == 2) shared.push_back(st.st_dev);
    }
    std::sort(avoid.begin(), avoid.end());
    std::sort(points.begin(), points.end());
}

FindSession::FindSession() : state_(std::make_unique<State>(true)) {
    state_->previous = g_current;
    g_current = state_.get();
}

FindSession::~FindSession() { g_current = state_->previous; }

void FindSession::SetProgress(std::function<void()> progress) { state_->progress = std::move(progress); }

void FindSession::ReadAhead(bool on) { state_->readAhead = on; }
void FindSession::KeepReadings(FindMemo& memo) { state_->keepIn = &memo; }
void FindSession::UseReadings(FindMemo& memo) { state_->takeFrom = &memo; }

long FindSession::FoldersTooDeep() const { return state_->tooDeep; }

bool FindSession::State::OnVirtualFileSystem(int fd, dev_t dev) {
    for (const Device& d : kinds)
        if (d.dev == dev) {
            wholeReads = d.wholeReads;
            return d.virt;
        }
    constexpr uint32_t kTmpfs = 0x01021994, kRamfs = 0x858458f6, kExt = 0xEF53;
    struct statfs fs {};
    Device d{dev, true, false};
    if (::fstatfs(fd, &fs) == 0) {
        const auto type = static_cast<uint32_t>(fs.f_type);
        d.virt = IsVirtualFileSystem(type) || ((type == kTmpfs || type == kRamfs) &&
                                               std::find(devtmpfs.begin(), devtmpfs.end(), dev) != devtmpfs.end());
        // These fill a folder reading's buffer as far as their entries go:
        // a reading with room left over was the last.
        d.wholeReads = type == kExt || type == kTmpfs;
    }
    kinds.push_back(d);
    wholeReads = d.wholeReads;
    return d.virt;
}

// A folder met inside the walk that must not be entered: a mount point of a
// virtual, network or FUSE file system, or, on a drive, any other mount point.
bool FindSession::State::Refused(const std::string& real) const {
    return Contains(avoid, real) || (limited && real != limitRoot && Contains(points, real));
}

// Reads every entry of the open folder fd into l. False on a read error.
bool FindSession::State::ReadFolder(int fd, Listing& l) {
    if (!buffer) buffer = std::make_unique<char[]>(kBufferSize);
    // A mount point that must not be examined is a folder all the same.
    const auto unexamined = [&](std::string_view name) { return l.watch && Contains(avoid, Join(l.real, name)); };
    const auto carryOn = [this] {
        if (progress) progress();
        return true;
    };
    return l.Read(fd, buffer.get(), kBufferSize, unexamined, carryOn, wholeReads);
}

std::unique_ptr<Listing> FindSession::State::NewListing() {
    if (spare.empty()) return std::make_unique<Listing>();
    std::unique_ptr<Listing> l = std::move(spare.back());
    spare.pop_back();
    l->Clear();
    l->place.clear();
    return l;
}

// Before a new listing keeps its handle: the outermost level that still holds
// one gives it up when the session holds too many.
void FindSession::State::MakeRoomForHandle() {
    if (held < kMaxHeldHandles) return;
    for (const auto& o : open)
        if (o->fd >= 0) {
            o->CloseHandle();
            --held;
            return;
        }
}

// A reading kept by an earlier session, in place of reading the folder.
bool FindSession::State::TakeKept(const std::string& folder, Listing& l, struct stat& st) {
    return takeFrom->Take(folder, st.st_dev, st.st_ino, l);
}

// A handle for an open folder that has none (a kept reading's), by its text,
// if it is still the folder that was read.
bool FindSession::State::Reopen(Listing& l) {
    Fd fd(::open(l.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 && errno == ENAMETOOLONG) fd.reset(OpenLongPath(l.folder));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || st.st_dev != l.dev || st.st_ino != l.ino) return false;
    MakeRoomForHandle();
    l.fd = fd.release();
    ++held;
    return true;
}

void FindSession::State::Release(Listing* l) {
    while (l && --l->users == 0) {
        Listing* parent = l->parent;
        // The walk goes back to the parent: take its handle back through
        // "..", if it is still the folder it was.
        if (parent && parent->fd < 0 && l->fd >= 0) {
            Fd up(::openat(l->fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            struct stat st {};
            if (up.get() >= 0 && ::fstat(up.get(), &st) == 0 && st.st_dev == parent->dev && st.st_ino == parent->ino) {
                parent->fd = up.release();
                ++held;
            }
        }
        if (l->fd >= 0) --held;
        l->CloseHandle();
        const auto it = std::find_if(open.begin(), open.end(), [l](const auto& o) { return o.get() == l; });
        if (it != open.end()) {
            std::unique_ptr<Listing> done = std::move(*it);
            open.erase(it);
            if (spare.size() < kMaxSpare && done->names.capacity() <= kBufferSize * 4) spare.push_back(std::move(done));
        }
        l = parent;
    }
    // Device numbers of unmounted file systems are handed out again.
    if (open.empty()) kinds.clear();
}

// The folder's reading: one already held by an open enumeration of the same
// folder text, or a fresh one. Null when the folder may not be enumerated.
Listing* FindSession::State::Acquire(const std::string& folder) {
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if ((*it)->folder == folder) {
            ++(*it)->users;
            return it->get();
        }
    if (folder.find('\0') != std::string::npos) return nullptr;  // would open another folder

    // A subfolder of an open folder is opened relative to its handle.
    Listing* parent = nullptr;
    std::string_view name;
    for (auto it = open.rbegin(); it != open.rend() && !parent; ++it) {
        const std::string& p = (*it)->folder;
        if (folder.size() < p.size() + 2 || !folder.starts_with(p)) continue;
        name = std::string_view(folder).substr(p.size(), folder.size() - p.size() - 1);
        if (name.find('/') == std::string_view::npos && name != "." && name != "..") parent = it->get();
    }

    auto l = NewListing();
    Fd fd;
    struct stat st {};
    bool aheadRead = false;  // handed over by a reader ahead
    bool kept = false;       // kept from an earlier session: no handle
    if (parent) {
        if (parent->depth >= kMaxDepth) {
            // Each level holds a reading and a frame of the caller's walk: a
            // limit stays, but what it leaves out is counted for the caller.
            // The walk asks twice (Ex, then plain) for the same folder: count it once.
            if (folder != lastTooDeep) ++tooDeep;
            lastTooDeep = folder;
            return nullptr;
        }
        l->watch = parent->watch;
        if (l->watch) {
            l->real = Join(parent->real, name);
            if (Refused(l->real)) return nullptr;
            l->watch = AnyBelow(avoid, l->real) || (limited && AnyBelow(points, l->real));
        }
        l->depth = parent->depth + 1;
        if (readAhead) {
            const long at = parent->Find(name);
            l->place = parent->place;
            l->place.push_back(at < 0 ? UINT32_MAX : static_cast<uint32_t>(at));
            if (takeFrom && TakeKept(folder, *l, st)) {
                kept = aheadRead = true;
            } else if (readers) {
                if (auto r = readers->Take(folder, l->place, progress)) {
                    fd.reset(std::exchange(r->fd, -1));
                    st = r->st;
                    std::swap(l->names, r->entries.names);
                    std::swap(l->items, r->entries.items);
                    aheadRead = true;
                }
            }
        }
        if (!aheadRead) {
            if (parent->fd < 0 && !Reopen(*parent)) return nullptr;
            fd.reset(::openat(parent->fd, std::string(name).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
    } else {
        if (takeFrom && TakeKept(folder, *l, st)) {
            kept = aheadRead = true;
        } else {
            fd.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (fd.get() < 0 && errno == ENAMETOOLONG) fd.reset(OpenLongPath(folder));
        }
        if (!avoid.empty() || limited) {
            l->real = RealPath(folder);
            l->watch = AnyBelow(avoid, l->real) || (limited && AnyBelow(points, l->real));
        }
        l->place = {roots++};
    }
    if (fd.get() < 0 && !kept) return nullptr;

    // A kept reading passed these tests when it was made; the device limit
    // is the walk's own.
    if ((!aheadRead && ::fstat(fd.get(), &st) != 0) || (limited && st.st_dev != limit) ||
        (!kept && OnVirtualFileSystem(fd.get(), st.st_dev)))
        return nullptr;
    for (const auto& o : open)
        if (o->dev == st.st_dev && o->ino == st.st_ino) return nullptr;  // being walked already: a loop
    const bool track = std::find(shared.begin(), shared.end(), st.st_dev) != shared.end();
    if (track && walked.count({st.st_dev, st.st_ino})) return nullptr;  // reached again through another mount
    if (!aheadRead) {
        const auto began = std::chrono::steady_clock::now();
        if (!ReadFolder(fd.get(), *l)) return nullptr;
        // From the cache a folder takes well under a microsecond an entry.
        if (readAhead && std::chrono::steady_clock::now() - began > kSlowRead + kSlowReadPerEntry * l->items.size())
            ++slowReads;
        l->Sort();
        // Once folders come from the device rather than from its cache, what
        // lies below is read ahead, several folders at a time; not where
        // mount points lie: those folders are examined here, one at a time.
        if (readAhead && !l->watch && (readers || slowReads >= kSlowReadsToStart || g_readAheadAtOnce)) {
            if (!readers) readers = std::make_unique<FolderReaders>(kReaders, kReadAheadWindow);
            readers->Expect(folder, fd.get(), *l, l->place, kMaxDepth - l->depth);
        }
    }
    if (track) walked.insert({st.st_dev, st.st_ino});
    if (keepIn && !kept) keepIn->Put(folder, st.st_dev, st.st_ino, *l);

    l->folder = folder;
    l->dev = st.st_dev;
    l->ino = st.st_ino;
    l->users = 1;
    l->parent = parent;
    if (parent) ++parent->users;
    Listing* raw = l.get();
    if (fd.get() >= 0) {
        MakeRoomForHandle();
        raw->fd = fd.release();
        ++held;
    }
    open.push_back(std::move(l));
    return raw;
}

struct FindHandle {
    FindSession::State* session;
    std::unique_ptr<FindSession::State> own;  // a session of its own, when none was current
    Listing* listing = nullptr;
    std::string spec;
    bool all = false;
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

    auto h = std::make_unique<FindHandle>();
    h->session = g_current;
    if (!h->session) {
        h->own = std::make_unique<FindSession::State>(false);
        h->session = h->own.get();
    }
    h->listing = h->session->Acquire(folder);
    if (!h->listing) return INVALID_HANDLE_VALUE;
    h->all = spec == "*" || spec == "*.*";
    h->spec = std::move(spec);
    if (!Serve(*h, data)) {
        FindClose(h.release());
        return INVALID_HANDLE_VALUE;
    }
    return h.release();
}

HANDLE FindFirstFileExA(const std::string& pattern, int, WIN32_FIND_DATAA& data, int, void*, uint32_t) {
    return FindFirstFileA(pattern, data);
}

bool FindNextFileA(HANDLE h, WIN32_FIND_DATAA& data) { return h && Serve(*h, data); }

bool FindClose(HANDLE h) {
    if (!h) return false;
    h->session->Release(h->listing);
    delete h;
    return true;
}

int OpenFoundFile(const std::string& path, int flags) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) return ::open(path.c_str(), flags);
    const std::string_view folder = std::string_view(path).substr(0, slash + 1);
    const char* name = path.c_str() + slash + 1;
    if (g_current)
        for (auto it = g_current->open.rbegin(); it != g_current->open.rend(); ++it)
            if ((*it)->fd >= 0 && (*it)->folder == folder) return ::openat((*it)->fd, name, flags);
    const int fd = ::open(path.c_str(), flags);
    if (fd >= 0 || errno != ENAMETOOLONG) return fd;
    Fd dir(OpenLongPath(std::string(folder)));
    return dir.get() < 0 ? -1 : ::openat(dir.get(), name, flags);
}

FindDeviceLimit::FindDeviceLimit(const std::string& root)
    : session_(g_current),
      hadLimit_(session_ && session_->limited),
      previous_(session_ ? session_->limit : 0),
      previousRoot_(session_ ? session_->limitRoot : std::string()) {
    if (!session_) return;
    struct stat st {};
    // A root that cannot be examined: a device number no folder has.
    session_->limit = ::stat(root.c_str(), &st) == 0 ? st.st_dev : static_cast<dev_t>(-1);
    session_->limitRoot = RealPath(root);
    session_->limited = true;
}

FindDeviceLimit::~FindDeviceLimit() {
    if (!session_) return;
    session_->limited = hadLimit_;
    session_->limit = previous_;
    session_->limitRoot = std::move(previousRoot_);
}

}  // namespace platform
