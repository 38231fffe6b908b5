// Builds small 16-bit NE modules in memory for tests: resources on the
// alignment unit, padded to whole units as linkers do, listed in the order
// added grouped by type; tableOffset places the resource table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/PeBuilder.h"

namespace testsupport {

class NeBuilder {
public:
    uint16_t alignShift = 4;
    uint32_t tableOffset = 0x80;

    void Add(const platform::ResId& type, const platform::ResId& name, std::vector<uint8_t> data) {
        for (auto& t : types_)
            if (t.id.isInt == type.isInt && t.id.id == type.id && t.id.name == type.name)
                return t.entries.push_back({name, std::move(data)});
        types_.push_back({type, {{name, std::move(data)}}});
    }

    std::vector<uint8_t> Build() const {
        using B = PeBuilder;
        // The table: shift, types with their entries, the end mark, then the names.
        std::size_t fixed = 2 + 2;
        for (const auto& t : types_) fixed += 8 + 12 * t.entries.size();
        std::vector<uint8_t> table(fixed, 0);
        auto idField = [&](const platform::ResId& id) -> uint16_t {
            if (id.isInt) return 0x8000 | id.id;
            const auto at = static_cast<uint16_t>(table.size());
            table.push_back(static_cast<uint8_t>(id.name.size()));
            table.insert(table.end(), id.name.begin(), id.name.end());
            return at;
        };
        std::vector<uint16_t> typeFields, nameFields;
        for (const auto& t : types_) {
            typeFields.push_back(idField(t.id));
            for (const auto& e : t.entries) nameFields.push_back(idField(e.name));
        }
        table.push_back(0);
        // The resident-name table follows: the module name, then an end mark.
        std::vector<uint8_t> img(tableOffset, 0);
        img.insert(img.end(), table.begin(), table.end());
        const auto residentAt = static_cast<uint16_t>(img.size() - 0x40);
        img.insert(img.end(), {4, 'T', 'E', 'S', 'T', 0, 0, 0});
        img[0] = 'M', img[1] = 'Z';
        B::Put32(img, 0x3C, 0x40);
        img[0x40] = 'N', img[0x41] = 'E';
        const auto after = static_cast<uint16_t>(img.size() - 0x40);
        for (uint32_t at : {0x04u, 0x28u, 0x2Au}) B::Put16(img, 0x40 + at, after);  // entry, module, import tables
        B::Put16(img, 0x40 + 0x22, 0x40);                                            // no segments
        B::Put16(img, 0x40 + 0x24, static_cast<uint16_t>(tableOffset - 0x40));
        B::Put16(img, 0x40 + 0x26, residentAt);
        B::Put32(img, 0x40 + 0x2C, static_cast<uint32_t>(img.size()));  // non-resident names (none)
        B::Put16(img, 0x40 + 0x32, alignShift);
        img[0x40 + 0x36] = 2;  // Windows
        B::Put16(img, 0x40 + 0x3E, 0x030A);

        const uint32_t unit = 1u << alignShift;
        std::size_t at = tableOffset;
        B::Put16(img, at, alignShift), at += 2;
        std::size_t n = 0;
        for (std::size_t ti = 0; ti < types_.size(); ++ti) {
            const auto& t = types_[ti];
            B::Put16(img, at, typeFields[ti]);
            B::Put16(img, at + 2, static_cast<uint16_t>(t.entries.size()));
            at += 8;
            for (const auto& e : t.entries) {
                img.resize((img.size() + unit - 1) / unit * unit, 0);
                const std::size_t units = (e.data.size() + unit - 1) / unit;
                B::Put16(img, at, static_cast<uint16_t>(img.size() >> alignShift));
                B::Put16(img, at + 2, static_cast<uint16_t>(units));
                B::Put16(img, at + 4, 0x1C30);  // moveable, shareable, discardable
                B::Put16(img, at + 6, nameFields[n++]);
                at += 12;
                img.insert(img.end(), e.data.begin(), e.data.end());
                img.resize(img.size() + units * unit - e.data.size(), 0);
            }
        }
        return img;
    }

private:
    struct Entry { platform::ResId name; std::vector<uint8_t> data; };
    struct Type { platform::ResId id; std::vector<Entry> entries; };
    std::vector<Type> types_;
};

// The bytes of a resource as the engine loads them; empty when not found.
inline std::vector<uint8_t> LoadBytes(platform::HMODULE m, const platform::ResId& type, const platform::ResId& name) {
    auto res = platform::FindResourceA(m, name, type);
    auto h = res ? platform::LoadResource(m, res) : nullptr;
    if (!h) return {};
    auto p = static_cast<const uint8_t*>(platform::LockResource(h));
    std::vector<uint8_t> out(p, p + platform::SizeofResource(m, res));
    platform::FreeResource(h);
    return out;
}

}  // namespace testsupport
