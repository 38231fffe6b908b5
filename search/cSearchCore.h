// Finds files by name: a depth-first walk of one folder tree or of every
// fixed drive, raising FileFound for each file that matches the mask list.
// Single-threaded: the walk runs to its end inside the call and every event
// runs inside the walk, on the caller's thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs/FindMemo.h"

namespace platform {
class FindSession;
struct FindHandle;
struct WIN32_FIND_DATAA;
}  // namespace platform

namespace search {

// A Boolean as the events pass it: True = -1, False = 0.
using VBBool = int16_t;
inline constexpr VBBool kTrue = -1;
inline constexpr VBBool kFalse = 0;

// The receiver of the events. Every argument is the search object's own
// member, so a receiver that sets Cancel stops the search.
class ISearchEvents {
public:
    virtual ~ISearchEvents() = default;
    virtual void FileFound(std::string& FileName, int32_t& FileCount, int32_t& DirCount, VBBool& Cancel) = 0;
    virtual void SearchFinished() = 0;
    // Raised by the walks and by GetDirCount at least every 50 ms while they
    // run, whether or not any file matches, so that a window can paint and a
    // stop can be taken. Cancel is the object's own flag, as in FileFound.
    virtual void Idle(VBBool& Cancel) { (void)Cancel; }
};

class cSearchCore {
public:
    void SetEvents(ISearchEvents* events) { events_ = events; }

    // The number of directory entries the walk meets ("." and ".." too).
    // BaseDir "/" means every fixed drive whatever AllDrives says.
    int32_t GetDirCount(VBBool AllDrives, std::string BaseDir = std::string());
    // FileRoot "/" with Recurse searches every fixed drive, as it is counted.
    void SearchForFiles(std::string FileRoot, VBBool& Recurse, std::string& FileMask);
    void SearchSystemForFiles(std::string& FileMask);
    // Stops the running walk or count at its next entry, and every walk and
    // count started later at once, until ClearStop. Only sets a lock-free
    // flag, so a signal handler may call it: a stop that comes between arming
    // the handler and the start of a call is not lost.
    void StopWalk() { stop_.store(true, std::memory_order_relaxed); }
    // Takes a stop back, for a caller that starts a new run after a stopped
    // one; call it before arming anything that may call StopWalk.
    void ClearStop() { stop_.store(false, std::memory_order_relaxed); }
    // Folders the last walk or count could not enter because they lie too
    // deep (more than 2,048 levels below where it began).
    int32_t FoldersNotEntered() const { return notEntered_; }
    // How many bytes of folder readings a count keeps for the walk after it,
    // so that the walk need not read them again (tests shrink it).
    void SetKeptBudget(std::size_t bytes) { memo_.SetBudget(bytes); }
    // How long the walk runs between two Idle events (tests shorten it).
    void SetIdleInterval(std::chrono::milliseconds interval) { idleInterval_ = interval; }

private:
    std::vector<std::string> ParseMaskList(const std::string& mask) const;
    bool MatchesMask(const std::string& fullPath, const std::vector<std::string>& MaskList) const;
    bool SearchFolder(const std::string& path, VBBool Recurse, const std::vector<std::string>& MaskList,
                      bool ResetCounts, bool CountOnly);
    bool WalkFolder(const std::string& path, VBBool Recurse, const std::vector<std::string>& MaskList,
                    bool ResetCounts, bool CountOnly);
    bool WalkFolderEx(const std::string& path, VBBool Recurse, const std::vector<std::string>& MaskList,
                      bool ResetCounts, bool CountOnly);
    bool ReportFiles(const std::string& path, const std::vector<std::string>& MaskList);
    bool WalkEntries(platform::FindHandle* h, platform::WIN32_FIND_DATAA& data, const std::string& path,
                     const std::string& folder, VBBool Recurse, const std::vector<std::string>& MaskList,
                     bool CountOnly, bool ex);
    std::vector<std::string> FixedDrives() const;
    bool SearchDrives(const std::vector<std::string>& MaskList, bool CountOnly);
    void BeginRun(platform::FindSession& session);
    bool Stopped();
    void Pace(bool folder);

    ISearchEvents* events_ = nullptr;
    int32_t FileCount = 0;
    VBBool Cancel = kFalse;
    int32_t DirCount = 0;
    std::atomic<bool> stop_{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "StopWalk must be safe in a signal handler");
    std::chrono::milliseconds idleInterval_{20};
    std::chrono::steady_clock::time_point lastIdle_;
    uint32_t sinceClock_ = 0;  // entries met since the clock was last read
    int32_t notEntered_ = 0;
    platform::FindMemo memo_;  // the last count's readings, for the walk after it
    void EndRun(const platform::FindSession& session);
};

// The private operations that do not touch the object's state, open to tests.
std::vector<std::string> ParseMaskList(const std::string& mask);
std::string AddBackslash(const std::string& path);
std::string TrimAtNull(const char* text, size_t capacity);
bool IsWinNT4OrLater();

}  // namespace search
