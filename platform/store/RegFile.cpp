#include "platform/store/RegFile.h"

#include "platform/fs/PathUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t kMaxStoreBytes = 256u << 20;

std::mutex g_mutex;  // guards everything below
std::function<int(RegWriteStep)> g_faultHook;

int Fault(RegWriteStep step) { return g_faultHook ? g_faultHook(step) : 0; }

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    bool operator==(const FileId&) const = default;
};
FileId IdOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}
LSTATUS FromErrno(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOTDIR:
    case ENOENT:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    default: return ERROR_WRITE_FAULT;
    }
}

class LockFile {
public:
    LSTATUS Acquire(const std::string& file) {
        if (int e = Fault(RegWriteStep::Lock)) return FromErrno(e);
        fd_ = open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return FromErrno(errno);
        // Poll so that a copy stuck while holding the lock cannot hang us forever.
        for (int waited = 0; waited < 30000; ++waited) {
            if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return ERROR_SUCCESS;
            if (errno != EWOULDBLOCK && errno != EINTR) return FromErrno(errno);
            usleep(1000);
        }
        return ERROR_LOCK_VIOLATION;
    }
    ~LockFile() {
        if (fd_ >= 0) close(fd_);
    }

private:
    int fd_ = -1;
};

// What parses of a store kept, by file and scope, while the file is unchanged.
struct CacheEntry {
    FileId id;
    std::shared_ptr<RegHive> hive;
};
std::map<std::string, CacheEntry> g_cache;
constexpr std::size_t kMaxCached = 64;
std::vector<std::string> g_setAside;  // notices not yet taken

std::string CacheKey(const std::string& file, const RegScope& scope) {
    std::string key = file + (scope.tree ? "\nT" : "\nK");
    for (const char c : scope.path) key += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    return key;
}

void ForgetFile(const std::string& file) {
    const std::string prefix = file + "\n";
    for (auto it = g_cache.lower_bound(prefix); it != g_cache.end() && it->first.starts_with(prefix);)
        it = g_cache.erase(it);
}

// A store read for a change, under its lock: its bytes (kept for the write),
// the keys in scope, and where their sections lie; or, for a file that
// cannot be changed in place, every key.
struct Reading {
    std::string bytes;
    RegHive hive;
    RegLayout layout;
    bool whole = false;
};

// The changes of a batch, held under the store's lock until it commits.
struct Batch {
    HKEY root;
    RegScope scope;
    LockFile lock;
    Reading reading;
    bool changed = false;
    LSTATUS status = ERROR_SUCCESS;
};
Batch* g_batch = nullptr;


std::string StoreFile(HKEY root) { return RegistryFolder() + "/" + RootKeyName(root) + ".reg"; }

// Creates the folder and its parents; errno on failure.
int MakeFolders(const std::string& folder) {
    std::string partial;
    std::size_t pos = 0;
    while (pos <= folder.size()) {
        std::size_t next = folder.find('/', pos);
        if (next == std::string::npos) next = folder.size();
        partial = folder.substr(0, next);
        if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return errno;
        pos = next + 1;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

std::string FolderOf(const std::string& file) {
    std::string folder = PathRemoveFileSpecA(file);
    return folder.empty() ? std::string(".") : folder;
}

// Where a store's new file goes: beside the file a symbolic link at its name
// leads to, so that the link stays (dotfile managers keep such links).
std::string WriteTarget(const std::string& file) {
    std::string at = file;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        std::string to(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = readlink(at.c_str(), to.data(), to.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= to.size()) return at;
        to.resize(static_cast<std::size_t>(n));
        at = to[0] == '/' ? to : at.substr(0, at.rfind('/') + 1) + to;
    }
    return at;
}

// errno when the store of `root` may not be written.
int CheckWritable(HKEY root) {
    if (int e = Fault(RegWriteStep::CheckWritable)) return e;
    const std::string folder = RegistryFolder();
    if (int e = MakeFolders(folder)) return e;
    if (access(folder.c_str(), W_OK | X_OK) != 0) return errno;
    const std::string file = StoreFile(root);
    if (access(file.c_str(), F_OK) == 0 && access(file.c_str(), W_OK) != 0) return errno;
    // A linked store is rewritten in its target's folder.
    if (const std::string target = WriteTarget(file); target != file)
        if (access(FolderOf(target).c_str(), W_OK | X_OK) != 0) return errno;
    return 0;
}

bool ReadWhole(int fd, std::string& out) {
    char buf[65536];
    while (true) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buf, static_cast<std::size_t>(n));
        if (out.size() > kMaxStoreBytes) return false;
    }
}


// Moves an unparseable store aside under a name no earlier copy has.
bool SetAside(const std::string& file, const FileId& id) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) return errno == ENOENT;
    if (!(IdOf(st) == id)) return true;  // replaced meanwhile: nothing to set aside
    for (int n = 0; n < 1000; ++n) {
        const std::string aside = file + ".corrupt" + (n ? "." + std::to_string(n) : "");
        if (link(file.c_str(), aside.c_str()) == 0) {
            if (unlink(file.c_str()) != 0) return false;
            std::fprintf(stderr, "%s: could not read the settings file %s; it was kept as %s\n", "Loomvale",
                         file.c_str(), aside.c_str());
            g_setAside.push_back(aside);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// Opens and reads a store file whole. ERROR_SUCCESS with `missing` when
// there is none.
LSTATUS ReadFile(const std::string& file, std::string& bytes, FileId& id, bool& missing) {
    missing = false;
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT || errno == ENOTDIR;
        return missing ? ERROR_SUCCESS : FromErrno(errno);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return ERROR_BADDB;
    }
    id = IdOf(st);
    bytes.reserve(static_cast<std::size_t>(std::min<off_t>(st.st_size, kMaxStoreBytes)) + 1);
    const bool readOk = ReadWhole(fd, bytes);
    const int err = errno;
    close(fd);
    if (!readOk) return bytes.size() > kMaxStoreBytes ? ERROR_BADDB : FromErrno(err);
    return ERROR_SUCCESS;
}

// A store that cannot be parsed is set aside (the caller may hold the lock;
// otherwise it is taken here). Reads go on with an empty store either way; a
// writer must not replace a file it could not keep.
LSTATUS Unparseable(const std::string& file, const FileId& id, bool locked) {
    bool asideOk;
    if (locked) {
        asideOk = SetAside(file, id);
    } else {
        LockFile lock;
        asideOk = lock.Acquire(file) == ERROR_SUCCESS && SetAside(file, id);
    }
    return asideOk || !locked ? ERROR_SUCCESS : ERROR_BADDB;
}

// The keys of the store that the scope keeps, from the cache while the file
// is unchanged. Only they are held in memory, however large the store.
LSTATUS Load(HKEY root, const RegScope& scope, std::shared_ptr<RegHive>& hive) {
    const std::string file = StoreFile(root), key = CacheKey(file, scope);
    hive = std::make_shared<RegHive>();
    struct stat st {};
    if (stat(file.c_str(), &st) == 0)
        if (auto it = g_cache.find(key); it != g_cache.end() && it->second.id == IdOf(st)) {
            hive = it->second.hive;
            return ERROR_SUCCESS;
        }
    std::string bytes;
    FileId id;
    bool missing = false;
    if (LSTATUS s = ReadFile(file, bytes, id, missing)) return s;
    if (missing) {
        ForgetFile(file);
        return ERROR_SUCCESS;
    }
    if (!ParseRegFile(bytes, root, *hive, nullptr, &scope)) {
        *hive = {};
        return Unparseable(file, id, false);
    }
    if (g_cache.size() >= kMaxCached) g_cache.clear();
    g_cache[key] = {id, hive};
    return ERROR_SUCCESS;
}

// The store read for a change of what the scope keeps; the caller holds the lock.
LSTATUS ReadForChange(HKEY root, const RegScope& scope, Reading& r) {
    const std::string file = StoreFile(root);
    r = {};
    FileId id;
    bool missing = false;
    if (LSTATUS s = ReadFile(file, r.bytes, id, missing)) return s;
    r.whole = missing;
    if (missing) return ERROR_SUCCESS;
    if (!ParseRegFile(r.bytes, root, r.hive, nullptr, &scope, &r.layout)) {
        r = {};
        r.whole = true;
        return Unparseable(file, id, true);
    }
    if (!r.layout.inPlace) {
        // Not in our own form: read whole, written whole.
        ParseRegFile(r.bytes, root, r.hive);
        r.whole = true;
    }
    return ERROR_SUCCESS;
}

void RemoveStaleTemps(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    const std::string folder = file.substr(0, slash), prefix = file.substr(slash + 1) + ".tmp.";
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    while (dirent* e = readdir(d))
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) unlink((folder + "/" + e->d_name).c_str());
    closedir(d);
}

bool WriteAll(int fd, std::string_view s) {
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

namespace {

bool WritePieces(int fd, std::initializer_list<std::string_view> pieces) {
    for (const std::string_view piece : pieces)
        if (!WriteAll(fd, piece)) return false;
    return true;
}

// Writes the store's new contents: a temporary file beside the store's real
// file, flushed, renamed over it. A store changed in place keeps every byte
// of the sections out of scope; the kept ones are written anew where the
// first of them stood (at the end when there was none). The caller holds
// the lock.
LSTATUS WriteStore(HKEY root, const RegScope& scope, Reading&& r) {
    const std::string file = StoreFile(root), target = WriteTarget(file);
    RemoveStaleTemps(target);
    std::string tmp = target + ".tmp.XXXXXX";
    int err = Fault(RegWriteStep::WriteTemp);
    if (err) return FromErrno(err);
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return FromErrno(errno);
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
    bool written;
    if (r.whole) {
        written = WriteAll(fd, FormatRegFile(r.hive, root));
    } else {
        const std::string keys = FormatRegKeys(r.hive, root);
        const std::string_view bytes = r.bytes;
        const auto& kept = r.layout.kept;
        if (kept.empty()) {
            written = WritePieces(fd, {bytes, bytes.ends_with('\n') ? "" : "\r\n", keys});
        } else {
            written = WritePieces(fd, {bytes.substr(0, kept[0].first), keys});
            for (std::size_t i = 0; written && i < kept.size(); ++i) {
                const std::size_t next = i + 1 < kept.size() ? kept[i + 1].first : bytes.size();
                written = WriteAll(fd, bytes.substr(kept[i].second, next - kept[i].second));
            }
        }
    }
    if (!written) err = errno ? errno : EIO;
    if (!err) err = Fault(RegWriteStep::Sync);
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err) err = Fault(RegWriteStep::Rename);
    if (!err && rename(tmp.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        unlink(tmp.c_str());
        return FromErrno(err);
    }
    if (const int dfd = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    ForgetFile(file);
    // What is in memory is what a read of the new file in this scope gives
    // (or more: every key, when the whole file was written).
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) g_cache[CacheKey(file, scope)] = {IdOf(st), std::make_shared<RegHive>(std::move(r.hive))};
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS ChangeStore(HKEY root, const RegScope& scope, const std::function<LSTATUS(RegHive&, bool&)>& change) {
    std::lock_guard guard(g_mutex);
    if (g_batch && g_batch->root == root) {
        if (g_batch->status) return g_batch->status;
        if (!g_batch->scope.Covers(scope)) return ERROR_ACCESS_DENIED;  // a batch changes its own key
        bool changed = false;
        const LSTATUS s = change(g_batch->reading.hive, changed);
        g_batch->changed = g_batch->changed || changed;
        return s;
    }
    if (int e = CheckWritable(root)) return FromErrno(e);
    const std::string file = StoreFile(root);
    LockFile lock;
    if (LSTATUS s = lock.Acquire(file)) return s;
    Reading r;
    if (LSTATUS s = ReadForChange(root, scope, r)) return s;
    bool changed = false;
    if (LSTATUS s = change(r.hive, changed)) return s;
    if (!changed) return ERROR_SUCCESS;
    return WriteStore(root, scope, std::move(r));
}

LSTATUS LoadStore(HKEY root, const RegScope& scope, std::shared_ptr<const RegHive>& hive) {
    std::lock_guard guard(g_mutex);
    if (g_batch && g_batch->root == root && !g_batch->status && g_batch->scope.Covers(scope)) {
        // Reads in a batch see its changes: the batch's own keys, not owned,
        // which the caller reads before it changes anything.
        hive = std::shared_ptr<const RegHive>(std::shared_ptr<const RegHive>(), &g_batch->reading.hive);
        return ERROR_SUCCESS;
    }
    std::shared_ptr<RegHive> loaded;
    const LSTATUS s = Load(root, scope, loaded);
    hive = std::move(loaded);
    return s;
}

StoreBatch::StoreBatch(HKEY root, RegScope scope) {
    std::lock_guard guard(g_mutex);
    if (g_batch) {
        status_ = ERROR_BUSY;
        return;
    }
    auto batch = std::make_unique<Batch>();
    batch->root = root;
    batch->scope = std::move(scope);
    if (int e = CheckWritable(root)) batch->status = FromErrno(e);
    if (!batch->status) batch->status = batch->lock.Acquire(StoreFile(root));
    if (!batch->status) batch->status = ReadForChange(root, batch->scope, batch->reading);
    status_ = batch->status;
    g_batch = batch.release();
    mine_ = true;
}

StoreBatch::~StoreBatch() {
    std::lock_guard guard(g_mutex);
    if (!mine_) return;
    delete g_batch;
    g_batch = nullptr;
}

LSTATUS StoreBatch::Commit() {
    std::lock_guard guard(g_mutex);
    if (!mine_ || !g_batch) return status_ ? status_ : ERROR_INVALID_PARAMETER;
    std::unique_ptr<Batch> batch(g_batch);
    g_batch = nullptr;
    mine_ = false;
    if (batch->status || !batch->changed) return batch->status;
    return WriteStore(batch->root, batch->scope, std::move(batch->reading));
}

std::vector<std::string> TakeSetAsideNotices() {
    std::lock_guard guard(g_mutex);
    return std::exchange(g_setAside, {});
}

LSTATUS CheckStoreWritable(HKEY root) {
    std::lock_guard guard(g_mutex);
    const int e = CheckWritable(root);
    return e ? FromErrno(e) : ERROR_SUCCESS;
}

std::string RegistryFolder() {
    if (const char* d = std::getenv("LOOMVALE_REGISTRY"); d && *d) return d;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') return std::string(x) + "/loomvale";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/loomvale";
}

void SetRegistryFaultHook(std::function<int(RegWriteStep)> hook) {
    std::lock_guard guard(g_mutex);
    g_faultHook = std::move(hook);
}

}  // namespace platform
