// OpenProcess/SetPriorityClass stand-in: the priority classes of the wizard's
// slider map onto nice values (19, 10, 0, -5, -10); the idle class also takes
// the idle I/O class. A value the system refuses falls back to the nearest
// one this user may set, silently, as the platform would.
#pragma once

#include <cstdint>

namespace platform {

enum : uint32_t {
    IDLE_PRIORITY_CLASS = 0x40,
    BELOW_NORMAL_PRIORITY_CLASS = 0x4000,
    NORMAL_PRIORITY_CLASS = 0x20,
    ABOVE_NORMAL_PRIORITY_CLASS = 0x8000,
    HIGH_PRIORITY_CLASS = 0x80,
    REALTIME_PRIORITY_CLASS = 0x100,
};

enum : uint32_t {
    PROCESS_SET_INFORMATION = 0x200,
    PROCESS_QUERY_INFORMATION = 0x400,
    PROCESS_VM_READ = 0x10,
};

// A process "handle" is its id; 0 means none.
using ProcessHandle = uint32_t;

uint32_t GetCurrentProcessId();
// Only the program's own process can be opened.
ProcessHandle OpenProcess(uint32_t access, bool inherit, uint32_t processId);
bool CloseHandle(ProcessHandle handle);
// Unknown classes are refused (false); everything else is applied as far as
// the system allows and reported as done.
bool SetPriorityClass(ProcessHandle handle, uint32_t priorityClass);

// The nice value a class stands for; false for an unknown class.
bool NiceForPriorityClass(uint32_t priorityClass, int& nice);

}  // namespace platform
