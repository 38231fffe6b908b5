#include "platform/RegFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

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
struct CacheEntry {
    FileId id;
    RegHive hive;
};
std::map<std::string, CacheEntry> g_cache;

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

// errno when the store of `root` may not be written.
int CheckWritable(HKEY root) {
    if (int e = Fault(RegWriteStep::CheckWritable)) return e;
    const std::string folder = RegistryFolder();
    if (int e = MakeFolders(folder)) return e;
    if (access(folder.c_str(), W_OK | X_OK) != 0) return errno;
    const std::string file = StoreFile(root);
    if (access(file.c_str(), F_OK) == 0 && access(file.c_str(), W_OK) != 0) return errno;
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
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// The store's current contents. A store that cannot be parsed is set aside
// (the caller may hold the lock; otherwise it is taken here) and reads as empty.
LSTATUS Load(HKEY root, RegHive& hive, bool locked) {
    const std::string file = StoreFile(root);
    hive = {};
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
    const bool readOk = ReadWhole(fd, bytes);
    close(fd);
    if (!readOk) return bytes.size() > kMaxStoreBytes ? ERROR_BADDB : FromErrno(errno);
    std::string why;
    if (ParseRegFile(bytes, root, hive, &why)) {
        g_cache[file] = {id, hive};
        return ERROR_SUCCESS;
    }
    hive = {};
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

LSTATUS ChangeStore(HKEY root, const std::function<LSTATUS(RegHive&, bool&)>& change) {
    std::lock_guard guard(g_mutex);
    if (int e = CheckWritable(root)) return FromErrno(e);
    const std::string file = StoreFile(root);
    LockFile lock;
    if (LSTATUS s = lock.Acquire(file)) return s;
    RemoveStaleTemps(file);
    RegHive hive;
    if (LSTATUS s = Load(root, hive, true)) return s;
    bool changed = false;
    if (LSTATUS s = change(hive, changed)) return s;
    if (!changed) return ERROR_SUCCESS;

    const std::string text = FormatRegFile(hive, root);
    std::string tmp = file + ".tmp.XXXXXX";
    int err = Fault(RegWriteStep::WriteTemp);
    if (err) return FromErrno(err);
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return FromErrno(errno);
    struct stat old {};
    if (stat(file.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
    if (!WriteAll(fd, text)) err = errno;
    if (!err) err = Fault(RegWriteStep::Sync);
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err) err = Fault(RegWriteStep::Rename);
    if (!err && rename(tmp.c_str(), file.c_str()) != 0) err = errno;
    if (err) {
        unlink(tmp.c_str());
        return FromErrno(err);
    }
    const std::string folder = RegistryFolder();
    if (const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) g_cache[file] = {IdOf(st), std::move(hive)};
    return ERROR_SUCCESS;
}

LSTATUS LoadStore(HKEY root, RegHive& hive) {
    std::lock_guard guard(g_mutex);
    return Load(root, hive, false);
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
