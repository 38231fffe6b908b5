#include "platform/RegFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
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

struct CacheEntry {
    FileId id;
    std::shared_ptr<RegHive> hive;
};
std::map<std::string, CacheEntry> g_cache;
std::vector<std::string> g_setAside;  // notices not yet taken

// The changes of a batch, held under the store's lock until it commits.
struct Batch {
    HKEY root;
    std::string file;
    LockFile lock;
    RegHive hive;
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
    if (const std::string target = WriteTarget(file); target != file) {
        const std::string where = target.substr(0, std::max<std::size_t>(target.rfind('/'), 1));
        if (access(where.c_str(), W_OK | X_OK) != 0) return errno;
    }
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

// The store's current contents. A store that cannot be parsed is set aside
// (the caller may hold the lock; otherwise it is taken here) and reads as empty.
LSTATUS Load(HKEY root, std::shared_ptr<RegHive>& hive, bool locked) {
    const std::string file = StoreFile(root);
    hive = std::make_shared<RegHive>();
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            g_cache.erase(file);
            return ERROR_SUCCESS;
        }
        return FromErrno(errno);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return ERROR_BADDB;
    }
    const FileId id = IdOf(st);
    if (auto it = g_cache.find(file); it != g_cache.end() && it->second.id == id) {
        close(fd);
        hive = it->second.hive;
        return ERROR_SUCCESS;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(std::min<off_t>(st.st_size, kMaxStoreBytes)) + 1);
    const bool readOk = ReadWhole(fd, bytes);
    close(fd);
    if (!readOk) return bytes.size() > kMaxStoreBytes ? ERROR_BADDB : FromErrno(errno);
    std::string why;
    if (ParseRegFile(bytes, root, *hive, &why)) {
        g_cache[file] = {id, hive};
        return ERROR_SUCCESS;
    }
    *hive = {};
    bool asideOk;
    if (locked) {
        asideOk = SetAside(file, id);
    } else {
        LockFile lock;
        asideOk = lock.Acquire(file) == ERROR_SUCCESS && SetAside(file, id);
    }
    // Reads go on with an empty store either way; a writer must not replace a
    // file it could not keep.
    return asideOk || !locked ? ERROR_SUCCESS : ERROR_BADDB;
}

// The store to change, under its lock: taken over from the cache when no one
// else holds it (no copy of a large store), else copied.
LSTATUS LoadForChange(HKEY root, RegHive& hive) {
    std::shared_ptr<RegHive> loaded;
    if (LSTATUS s = Load(root, loaded, true)) return s;
    g_cache.erase(StoreFile(root));  // it is about to change
    if (loaded.use_count() == 1) hive = std::move(*loaded);
    else hive = *loaded;
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

bool WriteAll(int fd, const std::string& s) {
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

// Writes hive as the store's new contents: a temporary file beside the
// store's real file, flushed, renamed over it. The caller holds the lock.
LSTATUS WriteStore(HKEY root, RegHive&& hive) {
    const std::string file = StoreFile(root), target = WriteTarget(file);
    RemoveStaleTemps(target);
    std::string text = FormatRegFile(hive, root);
    std::string tmp = target + ".tmp.XXXXXX";
    int err = Fault(RegWriteStep::WriteTemp);
    if (err) return FromErrno(err);
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return FromErrno(errno);
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
    if (!WriteAll(fd, text)) err = errno;
    std::string().swap(text);
    if (!err) err = Fault(RegWriteStep::Sync);
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err) err = Fault(RegWriteStep::Rename);
    if (!err && rename(tmp.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        unlink(tmp.c_str());
        return FromErrno(err);
    }
    const std::string folder = target.substr(0, target.rfind('/') + (target.rfind('/') == 0));
    if (const int dfd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) g_cache[file] = {IdOf(st), std::make_shared<RegHive>(std::move(hive))};
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS ChangeStore(HKEY root, const std::function<LSTATUS(RegHive&, bool&)>& change) {
    std::lock_guard guard(g_mutex);
    if (g_batch && g_batch->root == root) {
        if (g_batch->status) return g_batch->status;
        bool changed = false;
        const LSTATUS s = change(g_batch->hive, changed);
        g_batch->changed = g_batch->changed || changed;
        return s;
    }
    if (int e = CheckWritable(root)) return FromErrno(e);
    const std::string file = StoreFile(root);
    LockFile lock;
    if (LSTATUS s = lock.Acquire(file)) return s;
    RegHive hive;
    if (LSTATUS s = LoadForChange(root, hive)) return s;
    bool changed = false;
    if (LSTATUS s = change(hive, changed)) return s;
    if (!changed) return ERROR_SUCCESS;
    return WriteStore(root, std::move(hive));
}

LSTATUS LoadStore(HKEY root, std::shared_ptr<const RegHive>& hive) {
    std::lock_guard guard(g_mutex);
    if (g_batch && g_batch->root == root && !g_batch->status) {
        // Reads in a batch see its changes: the batch's own copy, not owned,
        // which the caller reads before it changes anything.
        hive = std::shared_ptr<const RegHive>(std::shared_ptr<const RegHive>(), &g_batch->hive);
        return ERROR_SUCCESS;
    }
    std::shared_ptr<RegHive> loaded;
    const LSTATUS s = Load(root, loaded, false);
    hive = std::move(loaded);
    return s;
}

StoreBatch::StoreBatch(HKEY root) {
    std::lock_guard guard(g_mutex);
    if (g_batch) {
        status_ = ERROR_BUSY;
        return;
    }
    auto batch = std::make_unique<Batch>();
    batch->root = root;
    batch->file = StoreFile(root);
    if (int e = CheckWritable(root)) batch->status = FromErrno(e);
    if (!batch->status) batch->status = batch->lock.Acquire(batch->file);
    if (!batch->status) batch->status = LoadForChange(root, batch->hive);
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
    return WriteStore(batch->root, std::move(batch->hive));
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
