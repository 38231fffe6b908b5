#include "platform/fs/FindMemo.h"

#include <algorithm>
#include <cstring>

#include "platform/fs/FolderReaders.h"

namespace platform {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
// How far past the next kept folder a walk may ask.
constexpr std::size_t kLookAhead = 16;

// A record: the folder's text and its length, device, inode, the number of
// entries, then each entry as a flag byte (1: a folder), its length and its
// name.
template <typename T>
void Append(std::vector<char>& out, T v) {
    const char* p = reinterpret_cast<const char*>(&v);
    out.insert(out.end(), p, p + sizeof v);
}

template <typename T>
T Read(const char*& p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
}

}  // namespace

FindMemo::FindMemo(std::size_t budget) : budget_(budget) {}

void FindMemo::Clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    index_.clear();
    index_.shrink_to_fit();
    bytes_ = 0;
    full_ = false;
}

void FindMemo::SetBudget(std::size_t bytes) {
    Clear();
    budget_ = bytes;
}

void FindMemo::Put(const std::string& folder, dev_t dev, ino_t ino, const FolderEntries& entries) {
    if (full_ || folder.size() > UINT32_MAX) return;
    std::size_t size = sizeof(uint32_t) + folder.size() + sizeof(uint64_t) * 2 + sizeof(uint32_t);
    for (const auto& it : entries.items) size += 2 + it.length;
    const bool newChunk = chunks_.empty() || chunks_.back().size() + size > chunks_.back().capacity();
    const std::size_t grow = (newChunk ? std::max(kChunk, size) : 0) + sizeof(At);
    if (bytes_ + grow > budget_ || chunks_.size() >= UINT32_MAX) {
        full_ = true;
        return;
    }
    bytes_ += grow;
    if (newChunk) {
        chunks_.emplace_back();
        chunks_.back().reserve(std::max(kChunk, size));
    }
    std::vector<char>& out = chunks_.back();
    index_.push_back({static_cast<uint32_t>(chunks_.size() - 1), static_cast<uint32_t>(out.size())});
    Append(out, static_cast<uint32_t>(folder.size()));
    out.insert(out.end(), folder.begin(), folder.end());
    Append(out, static_cast<uint64_t>(dev));
    Append(out, static_cast<uint64_t>(ino));
    Append(out, static_cast<uint32_t>(entries.items.size()));
    for (const auto& it : entries.items) {
        out.push_back(it.dir ? 1 : 0);
        out.push_back(static_cast<char>(it.length));  // names are at most 255 bytes
        const std::string_view name = entries.Name(it);
        out.insert(out.end(), name.begin(), name.end());
    }
}

bool FindMemo::Take(const std::string& folder, dev_t& dev, ino_t& ino, FolderEntries& entries) {
    const std::size_t n = std::min(index_.size(), kLookAhead);
    for (std::size_t i = 0; i < n; ++i) {
        const char* p = Record(index_[i]);
        const auto length = Read<uint32_t>(p);
        if (length != folder.size() || std::memcmp(p, folder.data(), length) != 0) continue;
        p += length;
        dev = static_cast<dev_t>(Read<uint64_t>(p));
        ino = static_cast<ino_t>(Read<uint64_t>(p));
        const auto count = Read<uint32_t>(p);
        entries.Clear();
        entries.items.reserve(count);
        for (uint32_t k = 0; k < count; ++k) {
            const bool dir = *p++ != 0;
            const auto len = static_cast<uint16_t>(static_cast<unsigned char>(*p++));
            entries.items.push_back({static_cast<uint32_t>(entries.names.size()), len, dir});
            entries.names.insert(entries.names.end(), p, p + len);
            entries.names.push_back('\0');
            p += len;
        }
        index_.erase(index_.begin(), index_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        return true;
    }
    return false;
}

}  // namespace platform
