#include "search/cSearchCore.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

#include "platform/fs/Drives.h"
#include "platform/fs/FindFile.h"
#include "platform/fs/PathUtil.h"
#include "platform/system/SystemVersion.h"
#include "platform/fs/Wildcard.h"

namespace search {

namespace {

using platform::FILE_ATTRIBUTE_DIRECTORY;
using platform::HANDLE;
using platform::INVALID_HANDLE_VALUE;
using platform::WIN32_FIND_DATAA;

// Counters stop at their top instead of overflowing; the count and the search
// stop at the same value, so they still agree.
void Increment(int32_t& n) {
    if (n < INT32_MAX) ++n;
}

std::string_view EntryName(const WIN32_FIND_DATAA& data) {
    return {data.cFileName, ::strnlen(data.cFileName, sizeof data.cFileName)};
}

bool IsDotEntry(std::string_view name) { return name == "." || name == ".."; }

}  // namespace

std::string AddBackslash(const std::string& path) { return platform::AddBackslash(path); }

std::string TrimAtNull(const char* text, size_t capacity) {
    if (!text) return {};
    return std::string(text, ::strnlen(text, capacity));
}

std::vector<std::string> ParseMaskList(const std::string& mask) {
    const auto first = mask.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    std::string text = mask.substr(first, mask.find_last_not_of(' ') - first + 1);

    // One kind of separator only: the first of these that occurs.
    static constexpr std::string_view kSeparators[] = {"; ", ";", ", ", ",", " "};
    for (std::string_view sep : kSeparators) {
        auto pos = text.find(sep);
        if (pos == std::string::npos) continue;
        std::string joined;
        std::size_t from = 0;
        for (; pos != std::string::npos; pos = text.find(sep, from)) {
            joined.append(text, from, pos - from).push_back('|');
            from = pos + sep.size();
        }
        joined.append(text, from, std::string::npos);
        text = std::move(joined);
        break;
    }

    std::vector<std::string> list;
    std::size_t from = 0;
    for (auto bar = text.find('|'); bar != std::string::npos; bar = text.find('|', from)) {
        list.emplace_back(text, from, bar - from);
        from = bar + 1;
    }
    list.emplace_back(text, from, std::string::npos);
    return list;
}

bool IsWinNT4OrLater() {
    platform::OSVERSIONINFOA info;
    return platform::GetVersionExA(info) && info.dwPlatformId == platform::VER_PLATFORM_WIN32_NT &&
           info.dwMajorVersion >= 4;
}

// Every public call walks in a session of its own: its open folders are
// released on every way out, also when a handler throws.
void cSearchCore::BeginRun(platform::FindSession& session) {
    session.SetProgress([this] { Pace(true); });
    Cancel = kFalse;
    lastIdle_ = std::chrono::steady_clock::now();
    sinceClock_ = 0;
}

void cSearchCore::EndRun(const platform::FindSession& session) {
    notEntered_ = static_cast<int32_t>(std::min<long>(session.FoldersTooDeep(), INT32_MAX));
}

bool cSearchCore::Stopped() {
    if (stop_.load(std::memory_order_relaxed)) Cancel = kTrue;
    return Cancel != kFalse;
}

// Called at every entry and at each folder (folder true): the clock is read
// every 64 entries and at each folder, which keeps the check cheap.
void cSearchCore::Pace(bool folder) {
    if (!folder && ++sinceClock_ < 64) return;
    sinceClock_ = 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastIdle_ < idleInterval_ || Stopped()) return;
    lastIdle_ = now;
    if (events_) events_->Idle(Cancel);
}

int32_t cSearchCore::GetDirCount(VBBool AllDrives, std::string BaseDir) {
    platform::FindSession session;
    if (BaseDir == "/") AllDrives = kTrue;
    DirCount = 0;
    BeginRun(session);
    session.ReadAhead(true);
    // What the count reads is kept for the walk that follows it.
    memo_.Clear();
    session.KeepReadings(memo_);
    const std::vector<std::string> none;
    if (AllDrives)
        SearchDrives(none, true);
    else
        SearchFolder(BaseDir, kTrue, none, false, true);
    EndRun(session);
    return DirCount;
}

void cSearchCore::SearchForFiles(std::string FileRoot, VBBool& Recurse, std::string& FileMask) {
    platform::FindSession session;
    const std::vector<std::string> MaskList = ParseMaskList(FileMask);
    BeginRun(session);
    session.ReadAhead(Recurse != kFalse);
    session.UseReadings(memo_);
    if (FileRoot == "/" && Recurse) {
        // Walked as GetDirCount counts it, each drive on its own file system:
        // a plain walk of "/" would enter every other mount, network ones too.
        FileCount = 0;
        DirCount = 0;
        SearchDrives(MaskList, false);
    } else {
        SearchFolder(FileRoot, Recurse, MaskList, true, false);
    }
    EndRun(session);
    memo_.Clear();  // what a count kept serves one walk
    if (events_) events_->SearchFinished();
}

void cSearchCore::SearchSystemForFiles(std::string& FileMask) {
    platform::FindSession session;
    const std::vector<std::string> MaskList = ParseMaskList(FileMask);
    BeginRun(session);
    session.ReadAhead(true);
    session.UseReadings(memo_);
    DirCount = 0;
    FileCount = 0;
    SearchDrives(MaskList, false);
    EndRun(session);
    memo_.Clear();
    if (events_) events_->SearchFinished();
}

// Every fixed drive in turn, each kept on its own file system; true when a
// stop ended the walk.
bool cSearchCore::SearchDrives(const std::vector<std::string>& MaskList, bool CountOnly) {
    for (const std::string& drive : FixedDrives()) {
        platform::FindDeviceLimit onDrive(drive);
        if (SearchFolder(drive, kTrue, MaskList, false, CountOnly)) return true;
    }
    return false;
}

std::vector<std::string> cSearchCore::ParseMaskList(const std::string& mask) const {
    return search::ParseMaskList(mask);
}

bool cSearchCore::MatchesMask(const std::string& fullPath, const std::vector<std::string>& MaskList) const {
    const auto slash = fullPath.rfind('/');
    const std::string_view name =
        slash == std::string::npos ? std::string_view(fullPath) : std::string_view(fullPath).substr(slash + 1);
    bool matched = false;
    for (const std::string& mask : MaskList)
        if (platform::PathMatchSpecA(name, mask)) matched = true;
    return matched;
}

bool cSearchCore::SearchFolder(const std::string& path, VBBool Recurse, const std::vector<std::string>& MaskList,
                               bool ResetCounts, bool CountOnly) {
    return IsWinNT4OrLater() ? WalkFolderEx(path, Recurse, MaskList, ResetCounts, CountOnly)
                             : WalkFolder(path, Recurse, MaskList, ResetCounts, CountOnly);
}

bool cSearchCore::WalkFolder(const std::string& path, VBBool Recurse, const std::vector<std::string>& MaskList,
                             bool ResetCounts, bool CountOnly) {
    const std::string folder = AddBackslash(path);
    if (ResetCounts) {
        FileCount = 0;
        DirCount = 0;
    }
    WIN32_FIND_DATAA data;
    HANDLE h = platform::FindFirstFileA(folder + "*.*", data);
    if (h == INVALID_HANDLE_VALUE) return Cancel != kFalse;
    return WalkEntries(h, data, path, folder, Recurse, MaskList, CountOnly, false);
}

bool cSearchCore::WalkFolderEx(const std::string& path, VBBool Recurse, const std::vector<std::string>& MaskList,
                               bool ResetCounts, bool CountOnly) {
    const std::string folder = AddBackslash(path);
    if (ResetCounts) {
        FileCount = 0;
        DirCount = 0;
    }
    WIN32_FIND_DATAA data;
    HANDLE h = platform::FindFirstFileExA(folder + "*.*", platform::FindExInfoStandard, data,
                                          platform::FindExSearchLimitToDevices, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) return WalkFolder(path, Recurse, MaskList, ResetCounts, CountOnly);
    return WalkEntries(h, data, path, folder, Recurse, MaskList, CountOnly, true);
}

// The loop both walks share, over the open enumeration h whose first entry is
// in data; it closes h.
bool cSearchCore::WalkEntries(HANDLE h, WIN32_FIND_DATAA& data, const std::string& path, const std::string& folder,
                              VBBool Recurse, const std::vector<std::string>& MaskList, bool CountOnly, bool ex) {
    const platform::FindGuard guard(h);
    Pace(true);
    if (!CountOnly && !Stopped()) Cancel = ReportFiles(path, MaskList) ? kTrue : kFalse;
    std::string sub;
    for (;;) {
        Pace(false);
        if (Stopped()) break;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Increment(DirCount);
            const std::string_view name = EntryName(data);
            if (Recurse && !IsDotEntry(name)) {
                sub.assign(folder).append(name);
                const bool stop = ex ? WalkFolderEx(sub, Recurse, MaskList, false, CountOnly)
                                     : WalkFolder(sub, Recurse, MaskList, false, CountOnly);
                Cancel = stop ? kTrue : kFalse;
            }
        }
        if (Cancel) break;
        if (!platform::FindNextFileA(h, data)) break;
    }
    return Cancel != kFalse;
}

bool cSearchCore::ReportFiles(const std::string& path, const std::vector<std::string>& MaskList) {
    const std::string folder = AddBackslash(path);
    WIN32_FIND_DATAA data;
    const platform::FindGuard h(platform::FindFirstFileA(folder + "*.*", data));
    if (!h) return Cancel != kFalse;
    std::string full;
    do {
        Pace(false);
        if (Stopped()) break;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        full.assign(folder).append(EntryName(data));
        if (!MatchesMask(full, MaskList)) continue;
        Increment(FileCount);
        if (events_) events_->FileFound(full, FileCount, DirCount, Cancel);
        if (Cancel) break;
    } while (platform::FindNextFileA(h.get(), data));
    return Cancel != kFalse;
}

std::vector<std::string> cSearchCore::FixedDrives() const {
    // The list is as long as the mount table makes it: ask for the size first,
    // and again if the table grew in between.
    std::vector<char> buffer;
    uint32_t needed = platform::GetLogicalDriveStringsA(0, nullptr);
    for (int tries = 0; tries < 4 && needed > 0; ++tries) {
        buffer.assign(needed, '\0');
        const uint32_t got = platform::GetLogicalDriveStringsA(needed, buffer.data());
        if (got == 0) return {};
        if (got < needed) {
            buffer.resize(got);
            break;
        }
        needed = got;
        buffer.clear();
    }
    std::vector<std::string> drives;
    std::size_t from = 0;
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        if (buffer[i] != '\0') continue;
        if (i > from) {
            std::string piece(buffer.data() + from, i - from);
            if (platform::GetDriveTypeA(piece) == platform::DRIVE_FIXED) drives.push_back(std::move(piece));
        }
        from = i + 1;
    }
    return drives;
}

}  // namespace search
