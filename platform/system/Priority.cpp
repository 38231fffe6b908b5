#include "platform/system/Priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassShift = 13;
constexpr int kIoprioClassBestEffort = 2;
constexpr int kIoprioClassIdle = 3;

void SetIoClass(int ioClass) {
#ifdef SYS_ioprio_set
    // Best effort carries a level (4 is the kernel's default); idle has none.
    const int data = ioClass == kIoprioClassBestEffort ? 4 : 0;
    syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, (ioClass << kIoprioClassShift) | data);
#else
    (void)ioClass;
#endif
}

// Tries the wanted nice value, then each value nearer to 19 until one is
// accepted: an unprivileged user may only raise its nice value and only go as
// low as RLIMIT_NICE lets it.
void SetNiceNearest(int wanted) {
    for (int nice = wanted; nice <= 19; ++nice) {
        if (setpriority(PRIO_PROCESS, 0, nice) == 0) return;
        if (errno != EACCES && errno != EPERM) return;
    }
}

}  // namespace

uint32_t GetCurrentProcessId() { return static_cast<uint32_t>(getpid()); }

ProcessHandle OpenProcess(uint32_t, bool, uint32_t processId) {
    return processId == GetCurrentProcessId() ? processId : 0;
}

bool CloseHandle(ProcessHandle handle) { return handle != 0; }

bool NiceForPriorityClass(uint32_t priorityClass, int& nice) {
    switch (priorityClass) {
        case IDLE_PRIORITY_CLASS: nice = 19; return true;
        case BELOW_NORMAL_PRIORITY_CLASS: nice = 10; return true;
        case NORMAL_PRIORITY_CLASS: nice = 0; return true;
        case ABOVE_NORMAL_PRIORITY_CLASS: nice = -5; return true;
        case HIGH_PRIORITY_CLASS: nice = -10; return true;
        default: return false;
    }
}

bool SetPriorityClass(ProcessHandle handle, uint32_t priorityClass) {
    int nice = 0;
    if (handle != GetCurrentProcessId() || !NiceForPriorityClass(priorityClass, nice)) return false;
    SetNiceNearest(nice);
    SetIoClass(priorityClass == IDLE_PRIORITY_CLASS ? kIoprioClassIdle : kIoprioClassBestEffort);
    return true;
}

}  // namespace platform
