// Finds files by name: a depth-first walk of one folder tree or of every
// fixed drive, raising FileFound for each file that matches the mask list.
// Single-threaded: the walk runs to its end inside the call and every event
// runs inside the walk, on the caller's thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
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
};

class cSearchCore {
public:
    void SetEvents(ISearchEvents* events) { events_ = events; }

    // The number of directory entries the walk meets ("." and ".." too).
    // BaseDir "/" means every fixed drive whatever AllDrives says.
    int32_t GetDirCount(VBBool AllDrives, std::string BaseDir = std::string());
    void SearchForFiles(std::string FileRoot, VBBool& Recurse, std::string& FileMask);
    void SearchSystemForFiles(std::string& FileMask);
    // Stops the running walk, the count too, at its next entry. Only sets a
    // flag, so a signal handler may call it.
    void StopWalk() { Cancel = kTrue; }

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

    ISearchEvents* events_ = nullptr;
    int32_t FileCount = 0;
    VBBool Cancel = kFalse;
    int32_t DirCount = 0;
};

// The private operations that do not touch the object's state, open to tests.
std::vector<std::string> ParseMaskList(const std::string& mask);
std::string AddBackslash(const std::string& path);
std::string TrimAtNull(const char* text, size_t capacity);
bool IsWinNT4OrLater();

}  // namespace search
