#include "platform/fs/FileError.h"

#include <cerrno>

namespace platform {

FileError FileErrorFromErrno(int err) {
    switch (err) {
    case 0: return {0, ""};
    case ENOSPC:
    case EDQUOT: return {kErrDiskFull, "Disk full"};
    case ENOENT:
    case ENOTDIR: return {kErrPathNotFound, "Path not found"};
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return {kErrPathFileAccess, "Path/File access error"};
    case EMFILE:
    case ENFILE: return {kErrTooManyFiles, "Too many files"};
    default: return {kErrDeviceIO, "Device I/O error"};
    }
}

}  // namespace platform
