#include "platform/module/PeResources.h"

#include "platform/text/ByteReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/fs/FindFile.h"
#include "platform/module/ResourceModule.h"
#include "platform/text/TextCodec.h"

namespace platform {

using namespace detail;

namespace {

// A real module has at most 96 sections; the resource tree has three levels.
constexpr uint32_t kMaxSections = 96;
// Work budget for the whole resource tree, so that directories that point
// back at each other or overlap cannot make the walk explode. Real modules
// hold a few thousand entries.
constexpr uint32_t kMaxDirectoryEntries = 1u << 17;
// Bytes of string names and types kept for the whole tree. Many entries can
// share one 64K-character string; each would otherwise get a copy of it.
constexpr std::size_t kMaxNameBytes = 4u << 20;


char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Folded(std::string s) {
    for (auto& c : s) c = AsciiUpper(c);
    return s;
}

// Entries are added in their order, then sorted once; the stable sort keeps
// the first of equal keys in front.
void AddToIndex(Index& index, const ResId& id, uint32_t at) {
    if (id.isInt)
        index.ids.emplace_back(id.id, at);
    else
        index.names.emplace_back(Folded(id.name), at);
}
void SortIndex(Index& index) {
    auto byKey = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::stable_sort(index.ids.begin(), index.ids.end(), byKey);
    std::stable_sort(index.names.begin(), index.names.end(), byKey);
}

// The position of the first entry matching id, -1 when none.
template <class Key>
long Lookup(const std::vector<std::pair<Key, uint32_t>>& sorted, const Key& key) {
    auto it = std::lower_bound(sorted.begin(), sorted.end(), key,
                               [](const auto& entry, const Key& k) { return entry.first < k; });
    return it == sorted.end() || it->first != key ? -1 : static_cast<long>(it->second);
}
long FindInIndex(const Index& index, const ResId& id) {
    return id.isInt ? Lookup(index.ids, id.id) : Lookup(index.names, Folded(id.name));
}

// "#123" stands for the ID 123, as FindResource takes it.
ResId Normalise(const ResId& id) {
    if (id.isInt || id.name.size() < 2 || id.name[0] != '#') return id;
    uint32_t v = 0;
    for (std::size_t i = 1; i < id.name.size(); ++i) {
        const char c = id.name[i];
        if (c < '0' || c > '9') return id;
        v = v * 10 + static_cast<uint32_t>(c - '0');
        if (v > 0xFFFF) return id;
    }
    return ResId::Int(static_cast<uint16_t>(v));
}

// Directory offsets already walked, held flat (open addressing): a hostile
// tree can hold a hundred thousand directories.
class OffsetSet {
public:
    // False when v was there already. Offsets have the top bit clear.
    bool Insert(uint32_t v) {
        if ((count_ + 1) * 2 > slots_.size()) Grow();
        for (std::size_t i = Slot(v);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == v) return false;
            if (slots_[i] == kEmpty) {
                slots_[i] = v;
                ++count_;
                return true;
            }
        }
    }

private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    // The product's high bits: offsets are mostly multiples of 8.
    std::size_t Slot(uint32_t v) const { return static_cast<uint32_t>(v * 0x9E3779B1u) >> shift_; }
    void Grow() {
        std::vector<uint32_t> old(slots_.empty() ? 32 : slots_.size() * 2, kEmpty);
        shift_ = 32 - std::countr_zero(old.size());
        old.swap(slots_);
        count_ = 0;
        for (const uint32_t v : old)
            if (v != kEmpty) Insert(v);
    }
    std::vector<uint32_t> slots_;
    std::size_t count_ = 0;
    int shift_ = 32;
};

struct TreeWalk {
    explicit TreeWalk(PeModule& module) : m(module) {}

    PeModule& m;
    uint32_t budget = kMaxDirectoryEntries;
    std::size_t nameBudget = kMaxNameBytes;
    OffsetSet visited;
    // The last name read: hostile trees point thousands of entries at one
    // long string, which is then decoded once (each entry still pays its copy).
    struct Name {
        uint32_t at = 0xFFFFFFFFu;  // no name offset has the top bit
        bool ok = false;
        std::size_t units = 0;
        std::string text;
    } last;
    std::vector<uint8_t> chars;

    struct RawEntry {
        uint32_t name;
        uint32_t data;
    };

    std::vector<RawEntry> levels[3];  // one list per level, reused

    // The entries of the directory at off (relative to the resource base) on
    // the given level; empty when it is unreadable, seen before, or the
    // budget is spent. Valid until the next directory of that level.
    const std::vector<RawEntry>& Directory(uint32_t off, int level) {
        std::vector<RawEntry>& out = levels[level];
        out.clear();
        if (!visited.Insert(off)) return out;
        uint8_t head[16];
        const uint64_t rva = uint64_t{m.rsrcRva} + off;
        if (rva > 0xFFFFFFFFu || !m.ReadRva(static_cast<uint32_t>(rva), head, sizeof head)) return out;
        uint32_t count = uint32_t{Le16At(head, 12)} + Le16At(head, 14);
        count = std::min(count, budget);
        budget -= count;
        // Entries are read in runs, as many at a time as lie together in one
        // section and the file, up to the first that cannot be read.
        const uint64_t first = rva + 16;
        for (uint32_t i = 0; i < count;) {
            const uint64_t erva = first + uint64_t{i} * 8;
            uint64_t at = 0, room = 0;
            if (erva > 0xFFFFFFFFu || !m.Locate(static_cast<uint32_t>(erva), at, room) || room < 8) break;
            const auto n = static_cast<uint32_t>(std::min<uint64_t>({count - i, room / 8, (0xFFFFFFFFu - erva) / 8 + 1}));
            chars.resize(std::size_t{n} * 8);
            if (!m.ReadCached(at, chars.data(), chars.size())) break;
            out.reserve(out.size() + n);
            for (uint32_t k = 0; k < n; ++k) out.push_back({Le32At(chars, k * 8), Le32At(chars, k * 8 + 4)});
            i += n;
        }
        return out;
    }

    bool Identifier(uint32_t raw, ResId& id) {
        if (!(raw & 0x80000000u)) {
            if (raw > 0xFFFF) return false;
            id = ResId::Int(static_cast<uint16_t>(raw));
            return true;
        }
        Name& n = last;
        if (n.at != (raw & 0x7FFFFFFFu)) {
            n = Name{raw & 0x7FFFFFFFu, false, 0, {}};
            const uint64_t rva = uint64_t{m.rsrcRva} + (raw & 0x7FFFFFFFu);
            uint8_t len[2];
            if (rva > 0xFFFFFFFFu || !m.ReadRva(static_cast<uint32_t>(rva), len, 2)) return false;
            n.units = Le16At(len, 0);
            if (n.units * 2 <= nameBudget) {
                chars.resize(n.units * 2);
                if (n.units && !m.ReadRva(static_cast<uint32_t>(rva + 2), chars.data(), chars.size())) return false;
                n.text = text::Utf16LeToUtf8(chars);
                n.ok = true;
            }
        }
        if (!n.ok || n.units * 2 > nameBudget) return false;
        nameBudget -= n.units * 2;
        id = ResId::Str(n.text);
        return true;
    }

    void Run() {
        for (const auto& t : Directory(0, 0)) {
            TypeEntry type;
            if (!(t.data & 0x80000000u) || !Identifier(t.name, type.type)) continue;
            for (const auto& n : Directory(t.data & 0x7FFFFFFFu, 1)) {
                NameEntry name;
                if (!(n.data & 0x80000000u) || !Identifier(n.name, name.name)) continue;
                name.firstLang = static_cast<uint32_t>(m.langs.size());
                for (const auto& l : Directory(n.data & 0x7FFFFFFFu, 2)) {
                    if (l.data & 0x80000000u) continue;  // a fourth level does not exist
                    uint8_t leaf[16];
                    const uint64_t rva = uint64_t{m.rsrcRva} + l.data;
                    if (rva > 0xFFFFFFFFu || !m.ReadRva(static_cast<uint32_t>(rva), leaf, sizeof leaf)) continue;
                    m.langs.push_back({static_cast<uint16_t>(l.name & 0xFFFF), PeResource{Le32At(leaf, 0), Le32At(leaf, 4)}});
                }
                name.langCount = static_cast<uint32_t>(m.langs.size() - name.firstLang);
                if (name.langCount) type.names.push_back(std::move(name));
            }
            if (!type.names.empty()) m.types.push_back(std::move(type));
        }
    }
};

bool ParsePeHeaders(PeModule& m, uint32_t peOff) {
    uint8_t coff[24];
    if (!m.ReadExact(peOff, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return false;
    const uint32_t nSections = Le16At(coff, 6);
    const uint32_t optSize = Le16At(coff, 20);
    if (nSections == 0 || nSections > kMaxSections || optSize < 2) return false;
    std::vector<uint8_t> opt(optSize);
    if (!m.ReadExact(uint64_t{peOff} + 24, opt.data(), opt.size())) return false;
    const uint16_t magic = Le16At(opt, 0);
    std::size_t numDirsAt = 0;
    if (magic == 0x10B)
        numDirsAt = 92;
    else if (magic == 0x20B)
        numDirsAt = 108;
    else
        return false;

    std::vector<uint8_t> table(nSections * 40);
    if (!m.ReadExact(uint64_t{peOff} + 24 + optSize, table.data(), table.size())) return false;
    for (uint32_t i = 0; i < nSections; ++i) {
        const std::span<const uint8_t> s = std::span(table).subspan(i * 40, 40);
        m.sections.push_back({Le32At(s, 12), Le32At(s, 8), Le32At(s, 20), Le32At(s, 16)});
    }

    // The resource directory: data directory 2, else a section named .rsrc.
    if (optSize >= numDirsAt + 4 && Le32At(opt, numDirsAt) > 2 &&
        optSize >= numDirsAt + 4 + 3 * 8)
        m.rsrcRva = Le32At(opt, numDirsAt + 4 + 2 * 8);
    if (m.rsrcRva == 0) {
        for (uint32_t i = 0; i < nSections; ++i)
            if (std::memcmp(table.data() + i * 40, ".rsrc\0\0\0", 8) == 0) m.rsrcRva = m.sections[i].va;
    }
    return true;
}

const TypeEntry* FindType(HMODULE module, const ResId& type) {
    const ResId want = Normalise(type);
    // The exact spelling first: a type enumerated as "avi" must not turn
    // into a type "AVI" listed before it.
    if (!want.isInt) {
        auto it = module->typeExact.find(want.name);
        if (it != module->typeExact.end()) return &module->types[it->second];
    }
    const long at = FindInIndex(module->typeIndex, want);
    return at < 0 ? nullptr : &module->types[static_cast<std::size_t>(at)];
}

uint16_t LanguageFromLocale(const std::string& locale) {
    struct Map {
        const char* prefix;
        uint16_t lang;
    };
    // Full locale first, then the language alone.
    static const Map table[] = {
        {"en_GB", 0x809}, {"en_AU", 0xC09}, {"en_CA", 0x1009}, {"en", 0x409},   {"de_AT", 0xC07},
        {"de_CH", 0x807}, {"de", 0x407},    {"fr_BE", 0x80C},  {"fr_CA", 0xC0C}, {"fr_CH", 0x100C},
        {"fr", 0x40C},    {"es_MX", 0x80A}, {"es", 0xC0A},     {"it", 0x410},   {"pt_BR", 0x416},
        {"pt", 0x816},    {"nl_BE", 0x813}, {"nl", 0x413},     {"sv", 0x41D},   {"da", 0x406},
        {"nb", 0x414},    {"no", 0x414},    {"nn", 0x814},     {"fi", 0x40B},   {"pl", 0x415},
        {"cs", 0x405},    {"sk", 0x41B},    {"hu", 0x40E},     {"ro", 0x418},   {"ru", 0x419},
        {"uk", 0x422},    {"bg", 0x402},    {"el", 0x408},     {"tr", 0x41F},   {"he", 0x40D},
        {"ar", 0x401},    {"ja", 0x411},    {"ko", 0x412},     {"zh_TW", 0x404}, {"zh_HK", 0xC04},
        {"zh", 0x804},    {"ca", 0x403},    {"hr", 0x41A},     {"sl", 0x424},   {"lt", 0x427},
        {"lv", 0x426},    {"et", 0x425},    {"th", 0x41E},     {"vi", 0x42A},   {"id", 0x421},
    };
    for (const auto& e : table) {
        const std::size_t n = std::strlen(e.prefix);
        if (locale.compare(0, n, e.prefix) == 0 &&
            (locale.size() == n || locale[n] == '_' || locale[n] == '.' || locale[n] == '@'))
            return e.lang;
    }
    return 0;
}

}  // namespace

uint16_t UserLocaleLanguage() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) return LanguageFromLocale(v);
    }
    return 0;
}

namespace {
thread_local int g_loadError = 0;

// Not a module; or, when a read came back short, a file that cannot be read.
HMODULE NotLoaded(const PeModule& m) {
    g_loadError = m.shortRead ? EIO : 0;
    return nullptr;
}
}  // namespace

int LastLoadError() { return g_loadError; }

uint64_t ModuleFileSize(HMODULE module) { return module ? module->fileSize : 0; }

bool ModuleUnchanged(HMODULE module) {
    if (!module || module->shortRead) return false;
    struct stat st {};
    return ::fstat(module->fd, &st) == 0 && static_cast<uint64_t>(st.st_size) == module->fileSize &&
           st.st_mtim.tv_sec == module->mtime.tv_sec && st.st_mtim.tv_nsec == module->mtime.tv_nsec;
}

HMODULE LoadLibraryExA(const char* path, void* /*hFile*/, uint32_t /*flags*/) {
    g_loadError = EINVAL;
    if (!path) return nullptr;
    const int fd = OpenFoundFile(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        g_loadError = errno;
        return nullptr;
    }
    auto m = std::make_unique<PeModule>();
    m->fd = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        g_loadError = errno;
        return nullptr;
    }
    g_loadError = 0;
    if (!S_ISREG(st.st_mode)) return nullptr;
    m->fileSize = static_cast<uint64_t>(st.st_size);
    m->mtime = st.st_mtim;
    // The DOS header's last field says where the real header is: "PE" for
    // 32/64-bit modules, "NE" for 16-bit ones.
    uint8_t dos[64];
    if (!m->ReadExact(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return NotLoaded(*m);
    const uint32_t headerOff = Le32At(dos, 0x3C);
    uint8_t sig[2];
    if (!m->ReadExact(headerOff, sig, sizeof sig)) return NotLoaded(*m);
    if (sig[0] == 'N' && sig[1] == 'E') {
        if (!ReadNeResources(*m, headerOff)) return NotLoaded(*m);
    } else {
        if (!ParsePeHeaders(*m, headerOff)) return NotLoaded(*m);
        if (m->rsrcRva != 0) {
            TreeWalk walk(*m);
            walk.Run();
        }
    }
    for (uint32_t i = 0; i < m->types.size(); ++i) {
        TypeEntry& t = m->types[i];
        AddToIndex(m->typeIndex, t.type, i);
        if (!t.type.isInt) m->typeExact.emplace(t.type.name, i);
        for (uint32_t j = 0; j < t.names.size(); ++j) AddToIndex(t.index, t.names[j].name, j);
        SortIndex(t.index);
    }
    SortIndex(m->typeIndex);
    m->cache.clear();
    m->cache.shrink_to_fit();
    return m.release();
}

bool FreeLibrary(HMODULE module) {
    delete module;
    return module != nullptr;
}

bool EnumResourceTypesA(HMODULE module, ENUMRESTYPEPROCA proc, intptr_t param) {
    if (!module || !proc || module->types.empty()) return false;
    // The types alone, not their names: the callback gets its own copy.
    std::vector<ResId> types;
    types.reserve(module->types.size());
    for (const auto& t : module->types) types.push_back(t.type);
    for (const auto& t : types)
        if (!proc(module, t, param)) break;
    return true;
}

bool EnumResourceNamesA(HMODULE module, const ResId& type, ENUMRESNAMEPROCA proc, intptr_t param) {
    if (!module || !proc) return false;
    const TypeEntry* t = FindType(module, type);
    if (!t) return false;
    std::vector<ResId> names;
    names.reserve(t->names.size());
    for (const auto& n : t->names) names.push_back(n.name);
    const ResId typeId = t->type;
    for (const auto& n : names)
        if (!proc(module, typeId, n, param)) break;
    return true;
}

HRSRC FindResourceA(HMODULE module, const ResId& name, const ResId& type) {
    if (!module) return nullptr;
    const TypeEntry* t = FindType(module, type);
    if (!t) return nullptr;
    const long at = FindInIndex(t->index, Normalise(name));
    if (at >= 0) {
        const NameEntry& n = t->names[static_cast<std::size_t>(at)];
        const LangEntry* first = module->langs.data() + n.firstLang;
        const LangEntry* end = first + n.langCount;
        auto find = [&](uint16_t lang) -> const LangEntry* {
            for (const LangEntry* l = first; l != end; ++l)
                if (l->lang == lang) return l;
            return nullptr;
        };
        // The environment is read only when the choice depends on it: most
        // names have one language, or a neutral one.
        const LangEntry* pick = n.langCount == 1 ? first : find(0);
        if (!pick) pick = find(UserLocaleLanguage());
        if (!pick) pick = find(0x409);
        if (!pick) pick = first;
        return &pick->res;
    }
    return nullptr;
}

HGLOBAL LoadResource(HMODULE module, HRSRC res) {
    if (!module || !res) return nullptr;
    uint64_t off = 0;
    if (res->size == 0 || !module->RvaToOffset(res->dataRva, res->size, off)) return nullptr;
    auto data = std::make_unique<PeResourceData>();
    data->bytes.resize(res->size);
    if (!module->ReadExact(off, data->bytes.data(), data->bytes.size())) return nullptr;
    return data.release();
}

const void* LockResource(HGLOBAL data) { return data ? data->bytes.data() : nullptr; }

uint32_t SizeofResource(HMODULE module, HRSRC res) {
    if (!module || !res) return 0;
    return res->size;
}

bool FreeResource(HGLOBAL data) {
    delete data;
    return false;
}

}  // namespace platform
