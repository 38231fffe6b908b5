// Folder readings one walk keeps for the next: a count keeps what it read,
// so that the walk after it need not read the same folders again. Kept in
// the order they were read, compactly, within a budget of bytes; once the
// budget is spent nothing more is kept, so what is kept is one stretch of
// the walk from its start.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct FolderEntries;

class FindMemo {
public:
    explicit FindMemo(std::size_t budget = 24u << 20);
    // Forgets everything kept.
    void Clear();
    // Clears it, and keeps at most bytes from now on.
    void SetBudget(std::size_t bytes);
    std::size_t Folders() const { return index_.size(); }

    // Keeps the reading of folder (its text), unless the budget is spent.
    void Put(const std::string& folder, dev_t dev, ino_t ino, const FolderEntries& entries);
    // The kept reading of folder, if it is one of the next few kept: those
    // before it are given up (the walk passed them). False when it is not.
    bool Take(const std::string& folder, dev_t& dev, ino_t& ino, FolderEntries& entries);

private:
    struct At {
        uint32_t chunk;
        uint32_t offset;
    };
    const char* Record(const At& at) const { return chunks_[at.chunk].data() + at.offset; }

    std::vector<std::vector<char>> chunks_;  // records back to back; a new chunk when one is full
    std::deque<At> index_;                   // the records not taken yet, in the order kept
    std::size_t bytes_ = 0;
    std::size_t budget_;
    bool full_ = false;
};

}  // namespace platform
