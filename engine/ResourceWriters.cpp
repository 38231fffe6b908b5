// The bitmap and raw writers, and the new-file steps every writer shares.
#include <span>

#include "engine/EngineInternal.h"
#include "platform/text/ByteReader.h"

namespace engine {

using platform::FileError;
using platform::HMODULE;
using platform::ResId;

bool WithinOutputLimit(uint64_t bytes) { return bytes <= State().OutputLimit; }

// Gives a complete file its name, unless the program file changed while the
// file's bytes were read from it.
bool Publish(platform::NewFile& file, const std::string& path, FileError e) {
    if (!e.number && SourceChanged()) return false;
    if (!e.number) e = file.Publish();
    if (e.number) {
        RecordError(e, path);
        return false;
    }
    State().CreatedPath = path;
    return true;
}

// Writes the pieces as a new file at path, noting what was created.
bool WriteOutput(const std::string& path, std::span<const std::span<const uint8_t>> pieces) {
    uint64_t total = 0;
    for (const auto& p : pieces) total += p.size();
    if (!WithinOutputLimit(total)) return false;
    platform::NewFile file;
    FileError e = file.Begin(path);
    if (!e.number) e = file.Write(pieces);
    return Publish(file, path, e);
}

bool WriteOutput(const std::string& path, std::span<const uint8_t> data) {
    return WriteOutput(path, std::span(&data, 1));
}

std::vector<uint8_t> BuildBitmapFile(const std::vector<uint8_t>& dib) {
    std::vector<uint8_t> out;
    if (dib.size() < 12) return out;
    platform::ByteReader r(dib);
    const uint32_t headerSize = r.Le32().value_or(0);
    int64_t width, height;
    uint32_t planes, bpp, compression = 0, coloursUsed = 0, entrySize = 4;
    if (headerSize == 12) {
        // The core header of old modules: 16-bit sizes, 3-byte colour entries,
        // no compression and no colours-used field.
        const auto w = r.Le16(), h = r.Le16(), p = r.Le16(), b = r.Le16();
        if (!w || !h || !p || !b) return out;
        width = *w;
        height = *h;
        planes = *p;
        bpp = *b;
        entrySize = 3;
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 ||
               headerSize == 124) {
        if (dib.size() < headerSize) return out;
        const auto w = r.Le32(), h = r.Le32();
        const auto p = r.Le16(), b = r.Le16();
        const auto c = r.Le32();
        r.Skip(12);  // image size and resolution
        const auto used = r.Le32();
        if (!w || !h || !p || !b || !c || !used) return out;
        width = static_cast<int32_t>(*w);
        height = static_cast<int32_t>(*h);  // negative: stored top-down
        planes = *p;
        bpp = *b;
        compression = *c;
        coloursUsed = *used;
    } else {
        return out;
    }
    if (width <= 0 || height == 0 || planes != 1) return out;
    if (compression != 0 && compression != 1 && compression != 2 && compression != 3 && compression != 6)
        return out;
    uint64_t entries;
    switch (bpp) {
    case 1:
    case 4:
    case 8: entries = coloursUsed != 0 ? coloursUsed : (1u << bpp); break;
    case 16:
    case 24:
    case 32: entries = coloursUsed; break;
    default: return out;
    }
    // The colour masks of a bit-field bitmap follow a 40-byte header; the
    // larger headers hold them.
    const uint64_t masks = headerSize != 40 ? 0 : compression == 3 ? 12 : compression == 6 ? 16 : 0;
    const uint64_t offset = 14 + headerSize + masks + entrySize * entries;
    const uint64_t fileSize = dib.size() + 14ull;
    // A colour table larger than the data cannot be a bitmap; its offset
    // would point past the end of the file.
    if (offset > fileSize || fileSize > 0xFFFFFFFFull) return out;
    out.reserve(14);
    out.push_back('B');
    out.push_back('M');
    platform::AppendLe32(out, static_cast<uint32_t>(fileSize));
    platform::AppendLe16(out, 0);
    platform::AppendLe16(out, 0);
    platform::AppendLe32(out, static_cast<uint32_t>(offset));
    return out;
}

bool SaveBitmap(HMODULE hModule, const std::string& Path, const ResId& Name) {
    const std::vector<uint8_t> data = LoadResourceData(hModule, ResId::Type(platform::ResourceType::Bitmap), Name);
    if (!IsArrayDimmed(data)) return false;
    const std::vector<uint8_t> header = BuildBitmapFile(data);
    if (header.empty()) return false;
    const std::span<const uint8_t> pieces[] = {header, data};
    return WriteOutput(Path, pieces);
}

bool SaveRawResource(HMODULE hModule, const std::string& Path, int Kind, const ResId& Name) {
    const std::vector<uint8_t> data = LoadResourceData(hModule, TypeOfKind(Kind), Name);
    if (!IsArrayDimmed(data)) return false;
    return WriteOutput(Path, std::span<const uint8_t>(data));
}

}  // namespace engine
