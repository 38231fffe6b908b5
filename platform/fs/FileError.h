// errno values mapped onto the run-time file-error numbers the program shows.
#pragma once

#include <string>

namespace platform {

enum FileErrorNumber : int {
    kErrDeviceIO = 57,
    kErrDiskFull = 61,
    kErrTooManyFiles = 67,
    kErrPathFileAccess = 75,
    kErrPathNotFound = 76,
};

struct FileError {
    int number = 0;           // 0: no error
    std::string description;  // e.g. "Disk full"
};

FileError FileErrorFromErrno(int err);

}  // namespace platform
