// The inside of an open module, shared by the PE and the NE reader. Not for
// callers: they see only PeResources.h.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/module/PeResources.h"

namespace platform {

// Where a resource's bytes lie: an address inside the image (PE) or a file
// offset (NE, see PeModule::fileOffsets).
struct PeResource {
    uint32_t dataRva = 0;
    uint32_t size = 0;
};

namespace detail {

struct Section {
    uint32_t va = 0;
    uint32_t vsize = 0;
    uint32_t rawPtr = 0;
    uint32_t rawSize = 0;
};

struct LangEntry {
    uint16_t lang = 0;
    PeResource res;  // what FindResourceA hands out: stable until FreeLibrary
};

// A name's languages lie together in the module's one list of them.
struct NameEntry {
    ResId name;
    uint32_t firstLang = 0;
    uint32_t langCount = 0;
};

// IDs and strings (ASCII case folded) sorted, each with the position of its
// entry; of equal keys the first entry comes first. Built once after loading.
struct Index {
    std::vector<std::pair<uint16_t, uint32_t>> ids;
    std::vector<std::pair<std::string, uint32_t>> names;
};

struct TypeEntry {
    ResId type;
    std::vector<NameEntry> names;
    Index index;
};

constexpr uint32_t kCacheWindow = 64 * 1024;

}  // namespace detail

struct PeResourceData {
    std::vector<uint8_t> bytes;
};

struct PeModule {
    int fd = -1;
    uint64_t fileSize = 0;
    struct timespec mtime {};  // when opened
    bool shortRead = false;    // a read within fileSize came back short
    std::vector<detail::Section> sections;
    uint32_t rsrcRva = 0;
    bool fileOffsets = false;  // resources are placed by file offset (NE)
    // Not changed after loading, so pointers into them stay valid.
    std::vector<detail::TypeEntry> types;
    std::vector<detail::LangEntry> langs;
    detail::Index typeIndex;
    std::unordered_map<std::string, uint32_t> typeExact;  // string types as spelt

    // A small read window: the directory walk reads many tiny records.
    std::vector<uint8_t> cache;
    uint64_t cacheOff = 0;

    ~PeModule() {
        if (fd >= 0) ::close(fd);
    }

    // Reads exactly len bytes at off; false when the file does not hold them.
    bool ReadExact(uint64_t off, void* dst, std::size_t len) {
        if (off > fileSize || len > fileSize - off) return false;
        auto* out = static_cast<uint8_t*>(dst);
        std::size_t done = 0;
        while (done < len) {
            const ssize_t n = ::pread(fd, out + done, len - done, static_cast<off_t>(off + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {  // shrunk under us, or an I/O error
                shortRead = true;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Like ReadExact, through the window (for records smaller than it).
    bool ReadCached(uint64_t off, void* dst, std::size_t len) {
        if (len > detail::kCacheWindow) return ReadExact(off, dst, len);
        if (off > fileSize || len > fileSize - off) return false;
        if (cache.empty() || off < cacheOff || off + len > cacheOff + cache.size()) {
            const uint64_t want = std::min<uint64_t>(detail::kCacheWindow, fileSize - off);
            cache.resize(static_cast<std::size_t>(want));
            cacheOff = off;
            if (!ReadExact(off, cache.data(), cache.size())) {
                cache.clear();
                return false;
            }
        }
        std::memcpy(dst, cache.data() + (off - cacheOff), len);
        return true;
    }

    // Where rva lies in the file, and how many bytes from there on belong to
    // the same section's raw data (or are a file offset already) and the file.
    bool Locate(uint32_t rva, uint64_t& off, uint64_t& room) const {
        if (fileOffsets) {
            off = rva;
            if (off > fileSize) return false;
            room = fileSize - off;
            return true;
        }
        for (const auto& s : sections) {
            if (rva < s.va) continue;
            const uint64_t delta = uint64_t{rva} - s.va;
            const uint64_t span = std::max(s.vsize, s.rawSize);
            if (delta >= span) continue;
            if (delta > s.rawSize) return false;
            off = uint64_t{s.rawPtr} + delta;
            if (off > fileSize) return false;
            room = std::min<uint64_t>(s.rawSize - delta, fileSize - off);
            return true;
        }
        return false;
    }

    // File offset of len bytes at rva, when they lie inside one section's
    // raw data (or are a file offset already) and inside the file.
    bool RvaToOffset(uint32_t rva, uint64_t len, uint64_t& off) const {
        uint64_t room = 0;
        return Locate(rva, off, room) && len <= room;
    }

    bool ReadRva(uint32_t rva, void* dst, std::size_t len) {
        uint64_t off = 0;
        return RvaToOffset(rva, len, off) && ReadCached(off, dst, len);
    }
};

// Reads the resource table of the NE header at neOffset into m.types (every
// resource neutral). False when the header or table cannot be used.
bool ReadNeResources(PeModule& m, uint32_t neOffset);

}  // namespace platform
