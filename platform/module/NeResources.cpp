// The resource table of a 16-bit NE module:
//   WORD  alignment shift (offsets and lengths count units of 1 << shift)
//   type entries until a type of 0:
//     WORD type (high bit: integer ID, else offset of its name in the table)
//     WORD count, DWORD reserved, then count name entries of 12 bytes:
//       WORD offset, WORD length (both in units), WORD flags,
//       WORD name (high bit: integer ID, else offset of its name), 2 WORDs reserved
//   names: a length byte and that many Windows-1252 characters.
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/text/ByteReader.h"
#include "platform/module/ResourceModule.h"
#include "platform/text/TextCodec.h"

namespace platform {

using namespace detail;

namespace {

// Offsets and lengths are 16-bit counts of units; up to 1 << 16 units of a
// unit each still fit the 32 bits a resource's place and size have.
constexpr uint16_t kMaxAlignShift = 16;
constexpr std::size_t kNeHeaderSize = 0x40;
constexpr std::size_t kMaxTable = 0x10000;  // the table's offsets are 16-bit

// An integer ID (high bit set) or the name at that offset of the table;
// false when the name does not lie inside the table.
bool Identifier(const ByteReader& table, uint16_t raw, ResId& id) {
    if (raw & 0x8000) {
        id = ResId::Int(raw & 0x7FFF);
        return true;
    }
    ByteReader r = table.At(raw);
    const auto len = r.U8();
    const auto chars = len && *len ? r.Chars(*len) : std::nullopt;  // 0 marks the end of the names
    if (!chars) return false;
    id = ResId::Str(text::Cp1252ToUtf8(*chars));
    return true;
}

// IDs and names seen so far (as spelt), each with the place it was first seen.
struct Seen {
    std::unordered_map<uint16_t, std::size_t> ids;
    std::unordered_map<std::string, std::size_t> names;
    // The place of id's first sighting; next when this is the first.
    std::size_t Add(const ResId& id, std::size_t next) {
        return id.isInt ? ids.emplace(id.id, next).first->second : names.emplace(id.name, next).first->second;
    }
};

}  // namespace

bool ReadNeResources(PeModule& m, uint32_t neOffset) {
    uint8_t header[kNeHeaderSize];
    if (!m.ReadExact(neOffset, header, sizeof header)) return false;
    ByteReader h({header, sizeof header});
    const auto rsrcTab = h.At(0x24).Le16();
    const auto resTab = h.At(0x26).Le16();
    m.fileOffsets = true;
    if (*rsrcTab == *resTab) return true;  // no resources

    // The table runs up to the resident-name table that follows it.
    const uint64_t start = uint64_t{neOffset} + *rsrcTab;
    if (start >= m.fileSize) return false;
    const uint64_t limit = *resTab > *rsrcTab ? *resTab - *rsrcTab : kMaxTable;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(std::min(limit, m.fileSize - start)));
    if (!m.ReadExact(start, bytes.data(), bytes.size())) return false;
    const ByteReader table(bytes);

    Seen typeSlots;
    std::vector<Seen> seen;  // the names of each type
    ByteReader r = table;
    const auto shift = r.Le16();
    if (!shift || *shift > kMaxAlignShift) return false;
    while (true) {
        const auto typeRaw = r.Le16();
        if (!typeRaw || *typeRaw == 0) break;
        const auto count = r.Le16();
        // A count that runs past the table is no count: the walk ends there.
        if (!count || !r.Skip(4) || uint64_t{*count} * 12 > r.Remaining()) break;
        ResId type;
        const bool typeOk = Identifier(table, *typeRaw, type);
        // A type listed twice adds to the first listing.
        const std::size_t at = typeOk ? typeSlots.Add(type, m.types.size()) : 0;
        if (typeOk && at == m.types.size()) {
            m.types.push_back(TypeEntry{type, {}, {}});
            seen.emplace_back();
        }
        for (uint32_t i = 0; i < *count; ++i) {
            const auto offset = r.Le16(), length = r.Le16();
            const auto nameRaw = r.Skip(2) ? r.Le16() : std::nullopt;  // past the flags
            ResId name;
            if (!r.Skip(4) || !typeOk || !Identifier(table, *nameRaw, name)) continue;
            auto& names = m.types[at].names;
            if (seen[at].Add(name, names.size()) != names.size()) continue;  // one name per name: the first wins
            const PeResource place{static_cast<uint32_t>(uint64_t{*offset} << *shift),
                                   static_cast<uint32_t>(uint64_t{*length} << *shift)};
            names.push_back(NameEntry{std::move(name), static_cast<uint32_t>(m.langs.size()), 1});
            m.langs.push_back(LangEntry{0, place});
        }
    }
    std::erase_if(m.types, [](const TypeEntry& t) { return t.names.empty(); });
    return true;
}

}  // namespace platform
