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

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>

#include "platform/FileError.h"

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

// O_CREAT|O_EXCL|O_WRONLY|O_CLOEXEC, mode 0666 less the umask.
FileError CreateNewFile(const std::string& path, int& fd);
// Writes all bytes, going on after short writes and EINTR.
FileError WriteAll(int fd, const void* data, std::size_t size, const std::string& path = {});
// Closes fd; a failing close is an error too (the data may not be on disk).
FileError CloseFile(int fd, const std::string& path = {});

// Creates path exclusively and writes the pieces one after the other
// (gathered: one system call for most files). created tells whether the file
// came into being, so a caller can remove what a failure left.
FileError WriteNewFile(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                       bool& created);
FileError WriteNewFile(const std::string& path, std::span<const uint8_t> data, bool& created);

// Appends text to path, creating the file when missing. A line that could
// not be written whole is taken back, so the file never holds half a line.
FileError AppendLine(const std::string& path, std::string_view text);

FileError DeleteFile(const std::string& path);

// What stands at an output name: nothing, a file or folder (the name is
// taken), or something no output may be written through (a link, pipe,
// device or socket).
enum class NameState { Free, Taken, Blocked };
NameState StateOfName(const std::string& path);
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
    virtual int Unlink(const char* path) = 0;
    virtual int Stat(const char* path, struct stat* st, bool follow) = 0;
};
// nullptr puts the file system back.
void SetFileSystem(FileSystem* fs);

}  // namespace platform
