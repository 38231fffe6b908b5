// The file operations the engine's writers use. Every output file is created
// exclusively (never over an existing file or through a link), written with
// as few calls as possible, and closed with its result checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>

#include "platform/fs/FileError.h"

namespace platform {

// The run-time number for "File already exists": an exclusive create that
// met a file, folder or link at the path.
inline constexpr int kErrFileAlreadyExists = 58;

enum class FileOp { Create, Write, Close, Append, Delete };

// Fault injection for tests: called before every operation; a nonzero
// result is taken as that operation's errno (nothing is done). For Write
// and Append, maxBytes may be lowered to force short writes.
struct FaultDecision {
    int err = 0;
    std::size_t maxBytes = SIZE_MAX;
};
using FileFaultHook = std::function<FaultDecision(FileOp op, const std::string& path)>;
// Installs the hook (an empty one removes it).
void SetFileFaultHook(FileFaultHook hook);

// A new file that appears at its name only when it is complete, so that a
// crash, a kill or a failed write never leaves part of it there. It is
// written unnamed in the name's folder (O_TMPFILE) or, where the file system
// cannot do that, under a hidden temporary name, and then linked to the
// name, which fails rather than replace whatever took the name meanwhile.
// A file not published is discarded.
class NewFile {
public:
    NewFile() = default;
    ~NewFile() { Discard(); }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    FileError Begin(const std::string& path);
    // Writes all bytes, going on after short writes and EINTR (gathered: one
    // system call for most files).
    FileError Write(std::span<const std::span<const uint8_t>> pieces);
    FileError Write(const void* data, std::size_t size);
    // Gives the file its name; kErrFileAlreadyExists when the name is taken.
    // A failing close is an error too (the data may not be on disk).
    FileError Publish();
    void Discard();

private:
    int fd_ = -1;
    std::string path_;
    std::string temp_;  // the hidden name, when the file is not unnamed
};

// Writes the pieces as a new file at path (see NewFile). created tells
// whether the file is there now.
FileError WriteNewFile(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                       bool& created);
FileError WriteNewFile(const std::string& path, std::span<const uint8_t> data, bool& created);

// Appends text to path, creating the file when missing. A line that could
// not be written whole is taken back, so the file never holds half a line.
FileError AppendLine(const std::string& path, std::string_view text);

// Reads a whole regular file of at most max bytes into out (links are not
// followed); a larger file is an error (EFBIG), or with head set, its first
// max bytes are read.
FileError ReadWholeFile(const std::string& path, std::size_t max, std::vector<uint8_t>& out, bool head = false);
FileError DeleteFile(const std::string& path);

// What stands at an output name: nothing, a file or folder (the name is
// taken), or something no output may be written through (a link, pipe,
// device or socket). Only "no such file" makes a name free: any other
// failure to look (a file where a folder should be, a folder that may not
// be searched, a name too long) is an error, with its errno in err.
enum class NameState { Free, Taken, Blocked, Error };
NameState StateOfName(const std::string& path, int& err);
// Whether path is a regular file (a link to one is not).
bool IsPlainFile(const std::string& path);
// The folder's modification time in nanoseconds; -1 when it cannot be read.
int64_t FolderStamp(const std::string& folder);

// The system calls the functions above make, with their contracts (-1 and
// errno on failure). The file system is the default; the fuzzer puts an
// in-memory destination in its place so the writers run without a disk.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual int Open(const char* path, int flags, mode_t mode) = 0;
    virtual ssize_t Writev(int fd, const iovec* iov, int count) = 0;
    virtual int Close(int fd) = 0;
    virtual int Fstat(int fd, struct stat* st) = 0;
    virtual int Ftruncate(int fd, off_t size) = 0;
    virtual ssize_t Pread(int fd, void* buf, size_t count, off_t at) = 0;
    virtual int Unlink(const char* path) = 0;
    virtual int Stat(const char* path, struct stat* st, bool follow) = 0;
    // Names the unnamed file open as fd (opened with O_TMPFILE); EEXIST when
    // the name is taken.
    virtual int LinkUnnamed(int fd, const char* path) = 0;
    // rename that fails with EEXIST instead of replacing.
    virtual int RenameNoReplace(const char* from, const char* to) = 0;
};
// nullptr puts the file system back.
void SetFileSystem(FileSystem* fs);

}  // namespace platform
