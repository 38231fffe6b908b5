#include "engine/mResCore.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <unordered_map>
#include <memory>
#include <span>

#include "platform/FileIo.h"
#include "platform/MessageBox.h"
#include "platform/PathUtil.h"
#include "platform/TextCodec.h"

namespace engine {

using platform::FileError;
using platform::HMODULE;
using platform::ResId;

namespace {

EngineState g_state;

constexpr const char* kIndexFileName = "__index.txt";

// Resource types the group writers read their members from.
constexpr uint16_t kRtCursor = 1;
constexpr uint16_t kRtIcon = 3;

// An exclusive create that keeps meeting new files gives up after this many
// names, so a hostile or broken folder cannot make the scan spin.
constexpr int kMaxNameRetries = 1000;
// Longest file name the file systems we write to accept, in bytes.
constexpr std::size_t kMaxFileName = 255;

uint16_t U16(const std::vector<uint8_t>& d, std::size_t at) {
    return static_cast<uint16_t>(d[at] | (d[at + 1] << 8));
}
uint32_t U32(const std::vector<uint8_t>& d, std::size_t at) {
    return static_cast<uint32_t>(d[at]) | (static_cast<uint32_t>(d[at + 1]) << 8) |
           (static_cast<uint32_t>(d[at + 2]) << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}
void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A type text "2" -> the integer ID 2; "AVI" stays a string.
ResId TypeIdFromText(const std::string& text) {
    if (AllDigits(text) && text.size() <= 5) {
        const unsigned long v = std::stoul(text);
        if (v <= 0xFFFF) return ResId::Int(static_cast<uint16_t>(v));
    }
    return ResId::Str(text);
}

std::string TextOf(const ResId& id) { return id.IsIntResource() ? std::to_string(id.id) : id.name; }

int KindOfTypeText(const std::string& typeText) {
    for (int k = 0; k < kResKindCount; ++k)
        if (typeText == kKinds[k].typeText) return k;
    return RES_BITMAP;
}

// Index 0..5 of a selected enumerated type, -1 when not selected.
int SelectedKind(const ResId& type) {
    int kind = -1;
    if (type.IsIntResource()) {
        switch (type.id) {
        case 2: kind = RES_BITMAP; break;
        case 14: kind = RES_ICON; break;
        case 12: kind = RES_CURSOR; break;
        case 21: kind = RES_ANICURSOR; break;
        case 23: kind = RES_HTML; break;
        default: break;
        }
    } else if (type.name == "AVI") {
        kind = RES_VIDEO;
    }
    if (kind < 0 || !g_state.Types[kind]) return -1;
    return kind;
}

void RecordError(const FileError& e) {
    g_state.LastError = e.number;
    g_state.LastErrorDescription = e.description;
}

// A file error as the user sees it: the design's description, then the path.
void RecordError(const FileError& e, const std::string& path) {
    RecordError(e);
    if (!path.empty()) g_state.LastErrorDescription += ": " + path;
}

const FileError kAccessError{platform::kErrPathFileAccess, "Path/File access error"};

bool IsBlank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

void ShowWriteError() {
    if (!IsBlank(g_state.LastErrorDescription))
        platform::MsgBox(g_state.LastErrorDescription, platform::MsgButtons::OK, platform::MsgIcon::Critical);
}

// The program file changed while it was read: nothing more is taken from it.
bool SourceChanged() {
    if (!g_state.Module || platform::ModuleUnchanged(g_state.Module)) return false;
    g_state.LastError = platform::kErrDeviceIO;
    g_state.LastErrorDescription = "The file\r\n" + g_state.SourceFile +
                                   "\r\nchanged or could not be read while its resources were saved; "
                                   "the rest of them were not saved.";
    return true;
}

// What one resource may make us write: a damaged group that lists one
// member thousands of times must not fill the disk.
constexpr uint64_t kMinOutputLimit = 64ull << 20;
uint64_t g_outputLimit = kMinOutputLimit;

bool WithinOutputLimit(uint64_t bytes) { return bytes <= g_outputLimit; }

// Gives a complete file its name, unless the program file changed while the
// file's bytes were read from it.
bool Publish(platform::NewFile& file, const std::string& path, FileError e) {
    if (!e.number && SourceChanged()) return false;
    if (!e.number) e = file.Publish();
    if (e.number) {
        RecordError(e, path);
        return false;
    }
    g_state.CreatedPath = path;
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

// Cuts text to at most max bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string text, std::size_t max) {
    if (text.size() <= max) return text;
    std::size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    text.resize(n);
    return text;
}

// Control characters in a name or path would break the index into lines
// of its own or drive a terminal that shows it; they are shown as their
// control pictures (U+2400 + code, U+2421 for DEL), the C1 controls and
// the Unicode line separators as <U+XXXX>.
std::string IndexSafe(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
        const auto third = i + 2 < s.size() ? static_cast<unsigned char>(s[i + 2]) : 0;
        if (c < 32 || c == 0x7F) {
            platform::text::AppendUtf8(out, c == 0x7F ? U'\u2421' : static_cast<char32_t>(0x2400 + c));
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            static const char hex[] = "0123456789ABCDEF";
            out += "<U+00";
            out += hex[next >> 4];
            out += hex[next & 15];
            out += '>';
            ++i;
        } else if (c == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9)) {
            out += third == 0xA8 ? "<U+2028>" : "<U+2029>";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Members of a group. Each is loaded to check it and kept for the write,
// once per ID however often the group names it, while the kept bytes stay
// within a budget; past it (many IDs sharing one large image in a damaged
// module) a member is let go and loaded again when the file is written.
constexpr std::size_t kMaxKeptMemberBytes = 16u << 20;

class MemberCache {
public:
    MemberCache(HMODULE module, uint16_t type) : module_(module), type_(type) {}

    // The member's bytes, valid until the next call; empty when missing.
    const std::vector<uint8_t>& Get(uint16_t id) {
        auto it = kept_.find(id);
        if (it != kept_.end()) return it->second;
        scratch_ = Load(id);
        if (keptBytes_ + scratch_.size() > kMaxKeptMemberBytes) return scratch_;
        keptBytes_ += scratch_.size();
        return kept_.emplace(id, std::move(scratch_)).first->second;
    }
    // The kept bytes of a member, nullptr when it was let go.
    const std::vector<uint8_t>* Kept(uint16_t id) const {
        auto it = kept_.find(id);
        return it == kept_.end() ? nullptr : &it->second;
    }
    std::vector<uint8_t> Load(uint16_t id) const {
        return LoadResourceData(module_, ResId::Int(type_), ResId::Int(id));
    }

private:
    HMODULE module_;
    uint16_t type_;
    std::map<uint16_t, std::vector<uint8_t>> kept_;
    std::size_t keptBytes_ = 0;
    std::vector<uint8_t> scratch_;
};

// One image of a group file: the member, its stored size as checked, and
// how many of its bytes the file takes.
struct GroupImage {
    uint16_t id;
    std::size_t size;
    std::size_t length;
};

// Writes a group file: the header and directory, then the images in order.
// When every member is kept, one gathered write; otherwise each let-go
// member is loaded again as it is written, so only one is held at a time. A
// member that no longer matches what was checked means the module changed
// under us: the file is removed and the group refused.
bool WriteGroupFile(const std::string& path, const std::vector<uint8_t>& head, const MemberCache& members,
                    const std::vector<GroupImage>& images, std::size_t skip) {
    std::vector<std::span<const uint8_t>> pieces;
    pieces.reserve(1 + images.size());
    pieces.emplace_back(head);
    for (const auto& image : images) {
        const std::vector<uint8_t>* kept = members.Kept(image.id);
        if (!kept) break;
        pieces.emplace_back(kept->data() + skip, image.length - skip);
    }
    if (pieces.size() == 1 + images.size()) return WriteOutput(path, pieces);

    platform::NewFile file;
    FileError e = file.Begin(path);
    if (!e.number) e = file.Write(head.data(), head.size());
    for (const auto& image : images) {
        if (e.number) break;
        std::vector<uint8_t> loaded;
        const std::vector<uint8_t>* data = members.Kept(image.id);
        if (!data) {
            loaded = members.Load(image.id);
            data = &loaded;
        }
        // A member that no longer matches: the group is refused, or, when the
        // file changed, the change is reported by Publish.
        if (data->size() != image.size) {
            SourceChanged();
            return false;
        }
        e = file.Write(data->data() + skip, image.length - skip);
    }
    return Publish(file, path, e);
}

// The header and directory of an icon or cursor file, entry by entry, with
// each size and offset taken from the image as it will be written.
struct GroupHead {
    std::vector<uint8_t> head;
    uint64_t offset;
    std::vector<GroupImage> images;

    GroupHead(const std::vector<uint8_t>& group, int count)
        : head(group.begin(), group.begin() + 6), offset(6 + 16 * static_cast<uint64_t>(count)) {
        head.reserve(static_cast<std::size_t>(offset));
        images.reserve(static_cast<std::size_t>(count));
    }
    // False when the file would pass the output limit.
    bool Add(uint8_t width, uint8_t height, uint8_t colours, uint16_t planesOrX, uint16_t bppOrY, uint16_t id,
             std::size_t stored, std::size_t length, std::size_t written) {
        const uint64_t at = offset;
        offset += written;
        if (offset > 0xFFFFFFFFull || !WithinOutputLimit(offset)) return false;
        head.push_back(width);
        head.push_back(height);
        head.push_back(colours);
        head.push_back(0);
        Put16(head, planesOrX);
        Put16(head, bppOrY);
        Put32(head, static_cast<uint32_t>(written));
        Put32(head, static_cast<uint32_t>(at));
        images.push_back({id, stored, length});
        return true;
    }
};

// The group header checks both group writers share: enough bytes for the
// header and every entry, the type byte, a positive count.
int GroupCount(const std::vector<uint8_t>& group, uint8_t typeByte) {
    if (group.size() < 6) return -1;
    if (group[2] != typeByte) return -1;
    const int count = static_cast<int16_t>(U16(group, 4));
    if (count <= 0) return -1;
    if (group.size() < 6 + 14 * static_cast<std::size_t>(count)) return -1;
    return count;
}

// How much of a member the file takes: the group's figure, unless the
// stored resource is shorter (a padded one is longer: the padding stays out).
std::size_t MemberLength(std::size_t stored, int32_t figure) {
    return figure > 0 && static_cast<std::size_t>(figure) <= stored ? static_cast<std::size_t>(figure) : stored;
}

// ---- Output names ------------------------------------------------------------
// Per folder, the candidate number each base name reached, so a folder
// already holding thousands of files costs no more than an empty one. The
// memory is trusted while the folder's modification time is the one seen
// after our own last write there; any other change (files removed between
// runs) starts the folder's names from 1 again.
struct FolderNames {
    int64_t seen = -1;
    std::unordered_map<std::string, unsigned> next;
};
std::unordered_map<std::string, FolderNames> g_names;
// Past this many remembered names the memory starts over (names stay right;
// only their cost goes up for a while).
constexpr std::size_t kMaxRememberedNames = 1u << 16;
std::size_t g_rememberedNames = 0;

FolderNames* NamesOf(const std::string& folder) {
    const int64_t now = platform::FolderStamp(folder);
    if (now < 0) return nullptr;
    if (g_rememberedNames > kMaxRememberedNames) {
        g_names.clear();
        g_rememberedNames = 0;
    }
    FolderNames& names = g_names[folder];
    if (names.seen != now) {
        g_rememberedNames -= names.next.size();
        names.next.clear();
        names.seen = now;
    }
    return &names;
}

// After our own write into folder: its new time is ours, not a change.
void NoteOwnWrite(const std::string& folder) {
    auto it = g_names.find(folder);
    if (it != g_names.end()) it->second.seen = platform::FolderStamp(folder);
}

// The candidate path for MakeOutputPath. problem is set when a link, pipe or
// device holds the first candidate that is not a file or folder, or when the
// name cannot be looked at (the folder missing or unreadable, a name too long).
std::string FindOutputPath(const std::string& TypeText, std::string NameText, FileError& problem);

// Takes back a file whose index line could not be written (why: that
// error), so that every file in a folder has its line. A file that stays is
// said, with both errors.
bool RemoveUnlistedFile(const std::string& path, std::string why) {
    if (g_state.CreatedPath != path) return true;
    g_state.CreatedPath.clear();
    const FileError e = platform::DeleteFile(path);
    if (!e.number || e.number == platform::kErrPathNotFound) return true;
    RecordError(e);
    g_state.LastErrorDescription = "The file\r\n" + path + "\r\nhas no line in its index (" + why +
                                   ") and could not be deleted: " + e.description;
    return false;
}

}  // namespace

EngineState& State() { return g_state; }

namespace {
// Lets the owner paint between two resources; true when it asked to stop.
bool OwnerStops() {
    if (g_state.Owner) g_state.Owner->Idle(g_state.Cancel);
    return g_state.Cancel != kFalse;
}
}  // namespace

bool ExtractResources(std::string& FilePath, const ResTypes& Types, IResOwner* Owner,
                      const std::string& DestFolder) {
    g_state.LastError = 0;
    g_state.LastErrorDescription.clear();
    g_state.CreatedPath.clear();
    g_state.Types = Types;
    g_state.Owner = Owner;
    g_state.DestFolder = platform::AddBackslash(DestFolder);
    g_state.SourceFile = FilePath;
    g_state.ReadError = 0;
    g_state.Cancel = kFalse;

    HMODULE module = platform::LoadLibraryExA(FilePath.c_str(), nullptr, platform::LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        g_state.ReadError = platform::LastLoadError();
        return false;
    }
    g_outputLimit = std::max<uint64_t>(kMinOutputLimit, platform::ModuleFileSize(module) * 16);
    g_state.Module = module;
    if (!OwnerStops()) platform::EnumResourceTypesA(module, EnumResTypeProc, 0);
    // A change after the last resource read is said too: the file the user
    // scanned is not the one on disk now.
    if (g_state.LastError == 0 && SourceChanged()) ShowWriteError();
    g_state.Module = nullptr;
    platform::FreeLibrary(module);
    return g_state.LastError != 0;
}

bool EnumResTypeProc(HMODULE hModule, const ResId& Type, intptr_t) {
    if (SelectedKind(Type) >= 0) {
        // Our own copy of the type, as the enumeration's may not outlive it.
        const ResId type = Type.IsIntResource() ? ResId::Int(Type.id) : ResId::Str("AVI");
        platform::EnumResourceNamesA(hModule, type, EnumResNameProc, 0);
    }
    return g_state.LastError == 0 && !g_state.Cancel;
}

bool EnumResNameProc(HMODULE hModule, const ResId& Type, const ResId& Name, intptr_t) {
    if (OwnerStops()) return false;
    const std::string typeText = TextOf(Type);
    int32_t kind = KindOfTypeText(typeText);
    const bool ok = SaveResource(hModule, typeText, Name);
    if (ok && g_state.Owner) {
        ResName value = Name.IsIntResource() ? ResName(static_cast<int32_t>(Name.id)) : ResName(Name.name);
        g_state.Owner->ResFound(kind, value);
    }
    return g_state.LastError == 0;
}

namespace {

// Whatever way a resource's write ends, the folder's new time is our own.
struct OwnWriteNote {
    std::string folder;
    ~OwnWriteNote() { NoteOwnWrite(folder); }
};

}  // namespace

bool SaveResource(HMODULE hModule, const std::string& TypeText, const ResId& Name) {
    const std::string NameText = TextOf(Name);
    FileError problem;
    std::string path = FindOutputPath(TypeText, NameText, problem);
    const OwnWriteNote note{GetFolderPath(path)};
    int renames = 0;
    for (;;) {
        g_state.LastError = 0;
        g_state.LastErrorDescription.clear();
        g_state.CreatedPath.clear();
        bool ok = false;
        if (problem.number)
            RecordError(problem, path);
        else if (TypeText == "2")
            ok = SaveBitmap(hModule, path, Name);
        else if (TypeText == "12")
            ok = SaveCursorGroup(hModule, path, Name);
        else if (TypeText == "14")
            ok = SaveIconGroup(hModule, path, Name);
        else
            ok = SaveRawResource(hModule, path, TypeText, Name);

        if (g_state.LastError == 0) {
            // A refused resource leaves nothing: an index line would name a
            // file that does not exist, or the file the next resource takes.
            if (!ok) {
                // Data that could not be read in full is an error of the
                // file, not a resource to pass over.
                if (SourceChanged()) ShowWriteError();
                return false;
            }
            // The resource's own file is complete; its index line follows. A
            // file that cannot be listed is taken away again: every file in
            // the folder has its line. The error names the index.
            FileError e = WriteIndexEntry(path, TypeText, NameText);
            while (e.number == platform::kErrDiskFull) {
                if (platform::MsgBox(kDiskFullPrompt, platform::MsgButtons::RetryCancel,
                                     platform::MsgIcon::Critical) != platform::MsgResult::Retry)
                    break;
                e = WriteIndexEntry(path, TypeText, NameText);
            }
            if (!e.number) return true;
            RecordError(e, GetFolderPath(path) + platform::kPathSep + kIndexFileName);
            const bool removed = RemoveUnlistedFile(path, g_state.LastErrorDescription);
            if (!removed || e.number != platform::kErrDiskFull) ShowWriteError();
            return false;
        }

        if (g_state.LastError == platform::kErrFileAlreadyExists && ++renames < kMaxNameRetries) {
            // Something took the name since it was chosen: take the next
            // free one instead of writing over it.
            path = FindOutputPath(TypeText, NameText, problem);
            continue;
        }

        // Nothing of a failed write is left at the name (it was never named).
        if (g_state.LastError == platform::kErrDiskFull) {
            if (platform::MsgBox(kDiskFullPrompt, platform::MsgButtons::RetryCancel,
                                 platform::MsgIcon::Critical) == platform::MsgResult::Retry)
                continue;
            return ok;
        }
        ShowWriteError();
        return ok;
    }
}

std::vector<uint8_t> LoadResourceData(HMODULE hModule, const ResId& Type, const ResId& Name) {
    std::vector<uint8_t> out;
    platform::HRSRC res = platform::FindResourceA(hModule, Name, Type);
    if (!res) return out;
    platform::HGLOBAL handle = platform::LoadResource(hModule, res);
    if (handle) {
        const void* p = platform::LockResource(handle);
        const uint32_t size = p ? platform::SizeofResource(hModule, res) : 0;
        if (size > 0) {
            const auto* bytes = static_cast<const uint8_t*>(p);
            out.assign(bytes, bytes + size);
        }
        platform::FreeResource(handle);
    }
    return out;
}

// ---- Output paths and the index -------------------------------------------

void CleanFileName(std::string& Text) {
    for (auto& c : Text)
        if (!(platform::PathGetCharTypeA(static_cast<unsigned char>(c)) & platform::GCT_LFNCHAR)) c = '_';
}

std::string StripExtension(std::string_view Text) { return platform::TrimAtNull(platform::PathRemoveExtensionA(Text)); }

std::string GetExtension(std::string_view Text) {
    return platform::TrimAtNull(Text.substr(platform::PathFindExtensionA(Text)));
}

std::string GetFolderPath(std::string_view Path) { return platform::TrimAtNull(platform::PathRemoveFileSpecA(Path)); }

std::string MakeOutputPath(const std::string& TypeText, std::string NameText) {
    FileError problem;
    return FindOutputPath(TypeText, std::move(NameText), problem);
}

namespace {

std::string FindOutputPath(const std::string& TypeText, std::string NameText, FileError& problem) {
    problem = {};
    CleanFileName(NameText);
    const std::string file = platform::PathFindFileNameA(g_state.SourceFile);
    const int kind = KindOfTypeText(TypeText);
    const bool html = TypeText == "23";
    const std::string folder = g_state.DestFolder + kKinds[kind].folder;
    std::string stem = html ? StripExtension(NameText) : std::string();
    std::string ext = html ? GetExtension(NameText) : std::string(kKinds[kind].extension);
    if (ext.size() > 32) {
        // A "extension" this long is part of the name; keep the name whole.
        stem = NameText;
        ext.clear();
    }
    const std::string whole = html ? file + " - " + stem : file;
    FolderNames* names = NamesOf(folder);
    unsigned* remembered = nullptr;
    if (names) {
        auto [it, added] = names->next.try_emplace(whole + '/' + ext, 1u);
        g_rememberedNames += added;
        remembered = &it->second;
    }
    for (unsigned n = remembered ? *remembered : 1;; ++n) {
        const std::string suffix = n == 1 ? std::string() : " (" + std::to_string(n) + ")";
        // The front of the name gives way when the whole would be too long
        // for the file system; suffix and extension always stay.
        const std::string tail = suffix + ext;
        const std::string front = CutUtf8(whole, tail.size() < kMaxFileName ? kMaxFileName - tail.size() : 0);
        const std::string path = folder + platform::kPathSep + front + tail;
        // A link, pipe or device where our file would go is not stepped
        // over silently: what the user meant by it cannot be told.
        int err = 0;
        const platform::NameState state = platform::StateOfName(path, err);
        if (state == platform::NameState::Taken) continue;
        if (state == platform::NameState::Error) {
            problem = platform::FileErrorFromErrno(err);
            return path;
        }
        if (remembered) *remembered = n;
        if (state == platform::NameState::Blocked) problem = kAccessError;
        return path;
    }
}

}  // namespace

std::string IndexLine(const std::string& Path, const std::string& TypeText, const std::string& NameText) {
    return IndexSafe(platform::PathFindFileNameA(Path)) + " - SOURCE FILE = " + IndexSafe(g_state.SourceFile) +
           " RESOURCE TYPE = " + TypeText + " RESOURCE NAME = " + IndexSafe(NameText) + "\r\n";
}

FileError WriteIndexEntry(const std::string& Path, const std::string& TypeText, const std::string& NameText) {
    const std::string index = GetFolderPath(Path) + platform::kPathSep + kIndexFileName;
    return platform::AppendLine(index, IndexLine(Path, TypeText, NameText));
}

// ---- Bitmap and raw writers ------------------------------------------------

std::vector<uint8_t> BuildBitmapFile(const std::vector<uint8_t>& dib) {
    std::vector<uint8_t> out;
    if (dib.size() < 12) return out;
    const uint32_t headerSize = U32(dib, 0);
    int64_t width, height;
    uint32_t planes, bpp, compression = 0, coloursUsed = 0, entrySize = 4;
    if (headerSize == 12) {
        // The core header of old modules: 16-bit sizes, 3-byte colour entries,
        // no compression and no colours-used field.
        width = U16(dib, 4);
        height = U16(dib, 6);
        planes = U16(dib, 8);
        bpp = U16(dib, 10);
        entrySize = 3;
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 ||
               headerSize == 124) {
        if (dib.size() < headerSize) return out;
        width = static_cast<int32_t>(U32(dib, 4));
        height = static_cast<int32_t>(U32(dib, 8));  // negative: stored top-down
        planes = U16(dib, 12);
        bpp = U16(dib, 14);
        compression = U32(dib, 16);
        coloursUsed = U32(dib, 32);
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
    Put32(out, static_cast<uint32_t>(fileSize));
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, static_cast<uint32_t>(offset));
    return out;
}

bool SaveBitmap(HMODULE hModule, const std::string& Path, const ResId& Name) {
    const std::vector<uint8_t> data = LoadResourceData(hModule, ResId::Int(2), Name);
    if (!IsArrayDimmed(data)) return false;
    const std::vector<uint8_t> header = BuildBitmapFile(data);
    if (header.empty()) return false;
    const std::span<const uint8_t> pieces[] = {header, data};
    return WriteOutput(Path, pieces);
}

bool SaveRawResource(HMODULE hModule, const std::string& Path, const std::string& TypeText, const ResId& Name) {
    const std::vector<uint8_t> data = LoadResourceData(hModule, TypeIdFromText(TypeText), Name);
    if (!IsArrayDimmed(data)) return false;
    return WriteOutput(Path, std::span<const uint8_t>(data));
}

// ---- Icon and cursor groups -----------------------------------------------

bool SaveIconGroup(HMODULE hModule, const std::string& Path, const ResId& Name) {
    const std::vector<uint8_t> group = LoadResourceData(hModule, ResId::Int(14), Name);
    const int count = GroupCount(group, 1);
    if (count < 0) return false;

    MemberCache members(hModule, kRtIcon);
    GroupHead file(group, count);
    for (int j = 0; j < count; ++j) {
        const std::size_t e = 6 + 14 * static_cast<std::size_t>(j);
        const uint8_t colours = group[e + 2];
        const uint16_t planes = U16(group, e + 4);
        const uint16_t bpp = U16(group, e + 6);
        const int32_t size = static_cast<int32_t>(U32(group, e + 8));
        const uint16_t id = U16(group, e + 12);
        if (colours > 16 || planes != 1) return false;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
        if (size <= 0) return false;
        // A group is only worth a file when every image is there.
        const std::vector<uint8_t>& image = members.Get(id);
        if (!IsArrayDimmed(image)) return false;
        // Size and offset describe the image as written, so a group entry
        // that disagrees with its member cannot misplace the images.
        const std::size_t length = MemberLength(image.size(), size);
        if (!file.Add(group[e], group[e + 1], colours, 1, bpp, id, image.size(), length, length)) return false;
    }
    return WriteGroupFile(Path, file.head, members, file.images, 0);
}

bool SaveCursorGroup(HMODULE hModule, const std::string& Path, const ResId& Name) {
    const std::vector<uint8_t> group = LoadResourceData(hModule, ResId::Int(12), Name);
    const int count = GroupCount(group, 2);
    if (count < 0) return false;

    MemberCache members(hModule, kRtCursor);
    GroupHead file(group, count);
    for (int j = 0; j < count; ++j) {
        const std::size_t e = 6 + 14 * static_cast<std::size_t>(j);
        const uint16_t id = U16(group, e + 12);
        const std::vector<uint8_t>& image = members.Get(id);
        const int width = static_cast<int16_t>(U16(group, e));
        const int height2 = static_cast<int16_t>(U16(group, e + 2));
        const uint16_t planes = U16(group, e + 4);
        const int32_t size = static_cast<int32_t>(U32(group, e + 8));
        const std::size_t length = MemberLength(image.size(), size);
        // Hotspot plus at least one byte of image.
        if (length < 5) return false;
        // Up to 256 pixels; groups store the height doubled or not.
        if (width <= 0 || width > 256) return false;
        if (height2 <= 0 || height2 > 512) return false;
        if (planes != 1 || size <= 0) return false;
        // The image's own header knows its height (both masks, so halved);
        // failing that, the group's height taken as doubled.
        int height = height2 / 2;
        if (length >= 4 + 16) {
            const uint32_t biSize = U32(image, 4);
            const int32_t biHeight = static_cast<int32_t>(U32(image, 12));
            if ((biSize == 40 || biSize == 108 || biSize == 124) && biHeight / 2 >= 1 && biHeight / 2 <= 256)
                height = biHeight / 2;
        }
        if (height < 1 || height > 256) return false;
        // 256 pixels is written as 0, as the directory's byte says.
        if (!file.Add(static_cast<uint8_t>(width), static_cast<uint8_t>(height), 2, U16(image, 0), U16(image, 2), id,
                      image.size(), length, length - 4))
            return false;
    }
    return WriteGroupFile(Path, file.head, members, file.images, 4);
}

}  // namespace engine
