#include "platform/module/FileVersionInfo.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/text/ByteReader.h"
#include "platform/module/PeResources.h"

namespace platform {

namespace {

constexpr char16_t kRootKey[] = u"VS_VERSION_INFO";

size_t Align4(size_t v) { return (v + 3) & ~size_t{3}; }

// Two forms of the tree: 32-bit modules write wLength, wValueLength, wType
// and a UTF-16 key; 16-bit modules write wLength, wValueLength and an 8-bit
// key, no type. The root's key tells which.
enum class Form { Wide, Narrow };

Form FormOf(const uint8_t* p, size_t size) {
    static constexpr char kNarrowRoot[] = "VS_VERSION_INFO";  // with its NUL
    return size >= 4 + sizeof kNarrowRoot && std::memcmp(p + 4, kNarrowRoot, sizeof kNarrowRoot) == 0 ? Form::Narrow
                                                                                                      : Form::Wide;
}

// One block of the tree, located inside [0, limit) of the buffer.
struct Block {
    Form form = Form::Wide;
    size_t start = 0;
    size_t end = 0;        // start + wLength
    size_t keyStart = 0;   // first unit of the key
    size_t keyUnits = 0;   // without the NUL
    size_t value = 0;      // offset of the value
    size_t valueSize = 0;  // bytes, clipped to the block for text
    bool valueWhole = false;
    bool text = false;
    size_t children = 0;   // offset of the first child (== end when none)

    size_t UnitSize() const { return form == Form::Wide ? 2 : 1; }
    // The key's unit i (a UTF-16 unit or a byte); i < keyUnits.
    unsigned KeyUnit(const uint8_t* p, size_t i) const {
        const uint8_t* u = p + keyStart + i * UnitSize();
        return form == Form::Wide ? unsigned(Le16At(std::span(u, 2), 0)) : u[0];
    }
};

// Reads the block at pos. False when its header or key does not fit in limit.
bool ReadBlock(const uint8_t* p, size_t pos, size_t limit, Form form, Block& b) {
    if (pos > limit) return false;
    ByteReader r = ByteReader({p, limit}).At(pos);
    const auto length = r.Le16(), valueLength = r.Le16();
    const auto type = form == Form::Wide ? r.Le16() : std::optional<uint16_t>(0);
    if (!length || !valueLength || !type || *length > limit - pos) return false;
    b.form = form;
    b.start = pos;
    b.end = pos + *length;
    b.text = *type == 1;
    b.keyStart = r.Pos();
    // The key ends at a NUL unit inside the block.
    ByteReader key = ByteReader({p, b.end}).At(b.keyStart);
    for (b.keyUnits = 0;; ++b.keyUnits) {
        const auto unit = form == Form::Wide ? key.Le16() : std::optional<uint16_t>(key.U8());
        if (!unit) return false;
        if (*unit == 0) break;
    }
    b.value = std::min(Align4(key.Pos()), b.end);
    const size_t wanted = b.text ? *valueLength * size_t{2} : *valueLength;
    b.valueWhole = wanted <= b.end - b.value;
    b.valueSize = b.valueWhole ? wanted : b.end - b.value;
    b.children = std::min(Align4(b.value + b.valueSize), b.end);
    return true;
}

bool KeyEquals(const uint8_t* p, const Block& b, std::string_view name) {
    if (b.keyUnits != name.size()) return false;
    auto up = [](unsigned v) { return (v >= 'a' && v <= 'z') ? v - 32 : v; };
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned u = b.KeyUnit(p, i);
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x80 || u >= 0x80 || up(u) != up(c)) return false;
    }
    return true;
}

bool IsRootKey(const uint8_t* p, const Block& b) {
    constexpr size_t n = std::char_traits<char16_t>::length(kRootKey);
    if (b.keyUnits != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (b.KeyUnit(p, i) != kRootKey[i]) return false;
    return true;
}

// The root block of a buffer, in whichever form it is written.
bool ReadRoot(const uint8_t* p, size_t size, Block& root) {
    return ReadBlock(p, 0, size, FormOf(p, size), root) && IsRootKey(p, root);
}

// Finds the child of parent whose key is name. Offsets only grow, so the
// walk ends even on a hostile tree.
bool FindChild(const uint8_t* p, const Block& parent, std::string_view name, Block& out) {
    size_t pos = parent.children;
    while (pos < parent.end) {
        Block c;
        if (!ReadBlock(p, pos, parent.end, parent.form, c)) return false;
        if (KeyEquals(p, c, name)) {
            out = c;
            return true;
        }
        pos = Align4(c.end);
    }
    return false;
}

// Loads the bytes of the module's version resource into out.
bool LoadVersionResource(const char* path, std::vector<uint8_t>& out) {
    if (!path) return false;
    HMODULE m = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!m) return false;
    HRSRC res = FindResourceA(m, ResId::Int(1), ResId::Type(ResourceType::Version));
    if (!res) {
        // Not under the usual name 1: take the first version resource listed.
        struct Found { ResId name; bool any = false; } found;
        EnumResourceNamesA(
            m, ResId::Type(ResourceType::Version),
            [](HMODULE, const ResId&, const ResId& name, intptr_t param) {
                auto* f = reinterpret_cast<Found*>(param);
                f->name = name;
                f->any = true;
                return false;
            },
            reinterpret_cast<intptr_t>(&found));
        if (found.any) res = FindResourceA(m, found.name, ResId::Type(ResourceType::Version));
    }
    bool ok = false;
    if (res) {
        if (HGLOBAL h = LoadResource(m, res)) {
            const void* data = LockResource(h);
            const uint32_t size = SizeofResource(m, res);
            if (data && size) {
                const auto* b = static_cast<const uint8_t*>(data);
                out.assign(b, b + size);
                ok = true;
            }
            FreeResource(h);
        }
    }
    FreeLibrary(m);
    return ok;
}

}  // namespace

uint32_t VersionBlockLength(const void* data, size_t size) {
    if (!data) return 0;
    const auto* p = static_cast<const uint8_t*>(data);
    Block root;
    if (!ReadRoot(p, size, root)) return 0;
    return static_cast<uint32_t>(root.end);
}

uint32_t GetFileVersionInfoSizeA(const char* path, uint32_t* handle) {
    if (handle) *handle = 0;
    std::vector<uint8_t> bytes;
    if (!LoadVersionResource(path, bytes)) return 0;
    return VersionBlockLength(bytes.data(), bytes.size());
}

bool GetFileVersionInfoA(const char* path, uint32_t /*handle*/, uint32_t len, void* data) {
    if (!data) return false;
    std::vector<uint8_t> bytes;
    if (!LoadVersionResource(path, bytes)) return false;
    const uint32_t blockLen = VersionBlockLength(bytes.data(), bytes.size());
    if (blockLen == 0 || len < blockLen) return false;
    std::memcpy(data, bytes.data(), blockLen);
    std::memset(static_cast<uint8_t*>(data) + blockLen, 0, len - blockLen);
    return true;
}

bool VerQueryValueBounded(const void* block, size_t size, const char* subBlock, const void** buffer,
                          uint32_t* len) {
    if (buffer) *buffer = nullptr;
    if (len) *len = 0;
    if (!block || !subBlock || !buffer || !len) return false;
    const auto* p = static_cast<const uint8_t*>(block);
    Block cur;
    if (!ReadRoot(p, size, cur)) return false;

    std::string_view path(subBlock);
    size_t depth = 0;
    while (!path.empty()) {
        size_t cut = path.find('\\');
        std::string_view part = path.substr(0, cut);
        path = cut == std::string_view::npos ? std::string_view{} : path.substr(cut + 1);
        if (part.empty()) continue;
        if (++depth > 8) return false;
        Block child;
        if (!FindChild(p, cur, part, child)) return false;
        cur = child;
    }
    if (cur.text || !cur.valueWhole || cur.valueSize == 0) return false;
    *buffer = p + cur.value;
    *len = static_cast<uint32_t>(cur.valueSize);
    return true;
}

bool VerQueryValueA(const void* block, const char* subBlock, const void** buffer, uint32_t* len) {
    if (!block) return false;
    // The block's own length bounds it; GetFileVersionInfoA never hands out a
    // block whose length exceeds the buffer it filled.
    const auto* p = static_cast<const uint8_t*>(block);
    const size_t size = Le16At(std::span(p, 2), 0);
    return VerQueryValueBounded(block, size, subBlock, buffer, len);
}

}  // namespace platform
