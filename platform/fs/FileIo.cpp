#include "platform/fs/FileIo.h"
#include "platform/fs/PathUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <climits>
#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace {

FileFaultHook g_hook;

class SystemCalls final : public FileSystem {
public:
    int Open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
    ssize_t Writev(int fd, const iovec* iov, int count) override { return ::writev(fd, iov, count); }
    int Close(int fd) override { return ::close(fd); }
    int Fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
    int Ftruncate(int fd, off_t size) override { return ::ftruncate(fd, size); }
    ssize_t Pread(int fd, void* buf, size_t count, off_t at) override { return ::pread(fd, buf, count, at); }
    int Unlink(const char* path) override { return ::unlink(path); }
    int Stat(const char* path, struct stat* st, bool follow) override {
        return follow ? ::stat(path, st) : ::lstat(path, st);
    }
    int LinkUnnamed(int fd, const char* path) override {
        if (::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0) return 0;
        // Without CAP_DAC_READ_SEARCH the empty path is refused (ENOENT);
        // the descriptor's entry in /proc links the same file.
        if (errno != ENOENT && errno != EPERM) return -1;
        const std::string proc = "/proc/self/fd/" + std::to_string(fd);
        return ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW);
    }
    int RenameNoReplace(const char* from, const char* to) override {
        if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return -1;
        // A file system without the flag: a link never replaces either.
        if (::link(from, to) != 0) return -1;
        ::unlink(from);
        return 0;
    }
};
SystemCalls g_system;
FileSystem* g_fs = &g_system;

FaultDecision Ask(FileOp op, const std::string& path) {
    if (!g_hook) return {};
    return g_hook(op, path);
}

FileError Err(int err) {
    if (err == EEXIST) return {kErrFileAlreadyExists, "File already exists"};
    return FileErrorFromErrno(err);
}

// One gathered write of what is left of the pieces, capped at maxBytes.
// Returns the bytes written or -1 with errno set.
ssize_t WriteSome(int fd, std::span<const std::span<const uint8_t>> pieces, std::size_t piece,
                  std::size_t offset, std::size_t maxBytes) {
    std::vector<iovec> iov;
    std::size_t total = 0;
    for (std::size_t i = piece; i < pieces.size() && iov.size() < IOV_MAX && total < maxBytes; ++i) {
        const auto& p = pieces[i];
        const std::size_t skip = i == piece ? offset : 0;
        std::size_t len = p.size() - skip;
        if (len == 0) continue;
        len = std::min(len, maxBytes - total);
        iov.push_back({const_cast<uint8_t*>(p.data() + skip), len});
        total += len;
    }
    if (iov.empty()) return 0;
    return g_fs->Writev(fd, iov.data(), static_cast<int>(iov.size()));
}

FileError WritePieces(int fd, std::span<const std::span<const uint8_t>> pieces, const std::string& path) {
    std::size_t piece = 0, offset = 0;
    for (;;) {
        while (piece < pieces.size() && offset >= pieces[piece].size()) {
            ++piece;
            offset = 0;
        }
        if (piece == pieces.size()) return {};
        const FaultDecision fault = Ask(FileOp::Write, path);
        if (fault.err) return Err(fault.err);
        const std::size_t cap = std::min<std::size_t>(fault.maxBytes, SSIZE_MAX);
        const ssize_t n = WriteSome(fd, pieces, piece, offset, cap == 0 ? 1 : cap);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Err(errno);
        }
        if (n == 0) return Err(EIO);  // no progress: give up rather than spin
        std::size_t left = static_cast<std::size_t>(n);
        while (left > 0) {
            const std::size_t room = pieces[piece].size() - offset;
            const std::size_t take = std::min(room, left);
            offset += take;
            left -= take;
            if (offset == pieces[piece].size()) {
                ++piece;
                offset = 0;
            }
        }
    }
}

// Closes fd; a failing close is an error too (the data may not be on disk).
FileError CloseFile(int fd, const std::string& path) {
    const FaultDecision fault = Ask(FileOp::Close, path);
    // Close even when a fault is injected, so no descriptor leaks.
    const int rc = g_fs->Close(fd);
    if (fault.err) return Err(fault.err);
    // EINTR after close: the descriptor is gone on Linux; do not retry.
    if (rc != 0 && errno != EINTR) return Err(errno);
    return {};
}

}  // namespace

void SetFileFaultHook(FileFaultHook hook) { g_hook = std::move(hook); }

void SetFileSystem(FileSystem* fs) { g_fs = fs ? fs : &g_system; }

FileError NewFile::Begin(const std::string& path) {
    Discard();
    path_ = path;
    if (const FaultDecision fault = Ask(FileOp::Create, path); fault.err) return Err(fault.err);
    std::string folder = PathRemoveFileSpecA(path);
    if (folder.empty()) folder = ".";
    do {
        fd_ = g_fs->Open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ >= 0) return {};
    // EOPNOTSUPP: this file system has no unnamed files (old kernels: EISDIR).
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Err(errno);
    static unsigned serial = 0;
    for (int tries = 0; tries < 100; ++tries) {
        temp_ = folder + "/.loomvale-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".part";
        fd_ = g_fs->Open(temp_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd_ >= 0) return {};
        if (errno != EEXIST && errno != EINTR) break;
    }
    const int err = errno;
    temp_.clear();
    return Err(err);
}

FileError NewFile::Write(std::span<const std::span<const uint8_t>> pieces) {
    if (fd_ < 0) return Err(EBADF);
    return WritePieces(fd_, pieces, path_);
}

FileError NewFile::Write(const void* data, std::size_t size) {
    const std::span<const uint8_t> one(static_cast<const uint8_t*>(data), size);
    return Write(std::span(&one, 1));
}

FileError NewFile::Publish() {
    if (fd_ < 0) return Err(EBADF);
    // An unnamed file is named while it is open; a hidden one once closed.
    const bool unnamed = temp_.empty();
    if (unnamed && g_fs->LinkUnnamed(fd_, path_.c_str()) != 0) {
        const int err = errno;
        Discard();
        return Err(err);
    }
    FileError e = CloseFile(std::exchange(fd_, -1), path_);
    if (!e.number && !unnamed && g_fs->RenameNoReplace(temp_.c_str(), path_.c_str()) != 0) e = Err(errno);
    if (e.number) {
        if (unnamed) g_fs->Unlink(path_.c_str());  // the name just given: ours
        Discard();
        return e;
    }
    temp_.clear();
    return {};
}

void NewFile::Discard() {
    if (fd_ >= 0) g_fs->Close(fd_);
    fd_ = -1;
    if (!temp_.empty()) g_fs->Unlink(temp_.c_str());
    temp_.clear();
}

FileError WriteNewFile(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                       bool& created) {
    created = false;
    NewFile file;
    FileError e = file.Begin(path);
    if (!e.number) e = file.Write(pieces);
    if (!e.number) e = file.Publish();
    created = e.number == 0;
    return e;
}

FileError WriteNewFile(const std::string& path, std::span<const uint8_t> data, bool& created) {
    return WriteNewFile(path, std::span(&data, 1), created);
}

FileError AppendLine(const std::string& path, std::string_view text) {
    if (const FaultDecision fault = Ask(FileOp::Append, path); fault.err) return Err(fault.err);
    // Not blocking: a pipe at the index's name must not hang the scan; it,
    // a device or a link is refused below.
    int fd;
    do {
        fd = g_fs->Open(path.c_str(), O_CREAT | O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Err(errno == ELOOP || errno == ENXIO ? EISDIR : errno);
    struct stat st {};
    const bool sized = g_fs->Fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!sized) {
        g_fs->Close(fd);
        return Err(EISDIR);
    }
    // A killed run can leave its last line torn (a write stops at a page
    // boundary when the process dies); end that line so this one stands alone.
    std::string_view lead;
    if (st.st_size > 0) {
        char tail[2] = {};
        const off_t at = st.st_size >= 2 ? st.st_size - 2 : 0;
        const ssize_t want = st.st_size - at;
        if (g_fs->Pread(fd, tail, static_cast<size_t>(want), at) == want && std::string_view(tail, 2) != "\r\n")
            lead = tail[want - 1] == '\r' ? "\n" : "\r\n";
    }
    const std::span<const uint8_t> pieces[] = {
        {reinterpret_cast<const uint8_t*>(lead.data()), lead.size()},
        {reinterpret_cast<const uint8_t*>(text.data()), text.size()}};
    FileError e = WritePieces(fd, pieces, path);
    if (e.number) {
        // Take back a partial line so the index stays one line per resource.
        if (g_fs->Ftruncate(fd, st.st_size) != 0) { /* nothing more can be done */ }
    }
    FileError c = CloseFile(fd, path);
    return e.number ? e : c;
}

FileError ReadWholeFile(const std::string& path, std::size_t max, std::vector<uint8_t>& out, bool head) {
    out.clear();
    int fd;
    do {
        fd = g_fs->Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Err(errno == ELOOP || errno == ENXIO ? EISDIR : errno);
    struct stat st {};
    int err = g_fs->Fstat(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? EISDIR : 0;
    if (!err && !head && static_cast<uint64_t>(st.st_size) > max) err = EFBIG;
    if (!err) out.resize(static_cast<std::size_t>(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), max)));
    for (std::size_t got = 0; !err && got < out.size();) {
        const ssize_t n = g_fs->Pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) err = n < 0 ? errno : EIO;  // shorter than it said: changed under us
        else got += static_cast<std::size_t>(n);
    }
    g_fs->Close(fd);
    if (err) out.clear();
    return err ? Err(err) : FileError{};
}

FileError DeleteFile(const std::string& path) {
    if (const FaultDecision fault = Ask(FileOp::Delete, path); fault.err) return Err(fault.err);
    if (g_fs->Unlink(path.c_str()) != 0) return Err(errno);
    return {};
}

bool IsPlainFile(const std::string& path) {
    struct stat st {};
    return g_fs->Stat(path.c_str(), &st, false) == 0 && S_ISREG(st.st_mode);
}

NameState StateOfName(const std::string& path, int& err) {
    err = 0;
    struct stat st {};
    if (g_fs->Stat(path.c_str(), &st, false) != 0) {
        if (errno == ENOENT) return NameState::Free;
        err = errno;
        return NameState::Error;
    }
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) ? NameState::Taken : NameState::Blocked;
}

int64_t FolderStamp(const std::string& folder) {
    struct stat st {};
    if (g_fs->Stat(folder.c_str(), &st, true) != 0) return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace platform
