// Output names and the index: a free name in the kind's folder for each
// resource, and its line in the folder's index.
#include <string>
#include <string_view>

#include "engine/EngineInternal.h"
#include "platform/fs/PathUtil.h"
#include "platform/text/TextCodec.h"

namespace engine {

using platform::FileError;

namespace {

// Longest file name the file systems we write to accept, in bytes.
constexpr std::size_t kMaxFileName = 255;

const FileError kAccessError{platform::kErrPathFileAccess, "Path/File access error"};

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

// Past this many remembered names the memory starts over (names stay right;
// only their cost goes up for a while).
constexpr std::size_t kMaxRememberedNames = 1u << 16;

FolderNames* NamesOf(const std::string& folder) {
    const int64_t now = platform::FolderStamp(folder);
    if (now < 0) return nullptr;
    EngineState& state = State();
    if (state.RememberedNames > kMaxRememberedNames) {
        state.Names.clear();
        state.RememberedNames = 0;
    }
    FolderNames& names = state.Names[folder];
    if (names.seen != now) {
        state.RememberedNames -= names.next.size();
        names.next.clear();
        names.seen = now;
    }
    return &names;
}

}  // namespace

// After our own write into folder: its new time is ours, not a change.
void NoteOwnWrite(const std::string& folder) {
    auto it = State().Names.find(folder);
    if (it != State().Names.end()) it->second.seen = platform::FolderStamp(folder);
}

bool RemoveUnlistedFile(const std::string& path, std::string why) {
    if (State().CreatedPath != path) return true;
    State().CreatedPath.clear();
    const FileError e = platform::DeleteFile(path);
    if (!e.number || e.number == platform::kErrPathNotFound) return true;
    RecordError(e);
    State().LastErrorDescription = "The file\r\n" + path + "\r\nhas no line in its index (" + why +
                                   ") and could not be deleted: " + e.description;
    return false;
}

void CleanFileName(std::string& Text) {
    for (auto& c : Text)
        if (!(platform::PathGetCharTypeA(static_cast<unsigned char>(c)) & platform::GCT_LFNCHAR)) c = '_';
}

std::string StripExtension(std::string_view Text) { return platform::TrimAtNull(platform::PathRemoveExtensionA(Text)); }

std::string GetExtension(std::string_view Text) {
    return platform::TrimAtNull(Text.substr(platform::PathFindExtensionA(Text)));
}

std::string GetFolderPath(std::string_view Path) { return platform::TrimAtNull(platform::PathRemoveFileSpecA(Path)); }

std::string MakeOutputPath(int Kind, std::string NameText) {
    FileError problem;
    return FindOutputPath(Kind, std::move(NameText), problem);
}

std::string FindOutputPath(int kind, std::string NameText, FileError& problem) {
    CleanFileName(NameText);
    const std::string file = platform::PathFindFileNameA(State().SourceFile);
    const bool html = kind == RES_HTML;
    std::string stem = html ? StripExtension(NameText) : std::string();
    std::string ext = html ? GetExtension(NameText) : std::string(kKinds[kind].extension);
    if (ext.size() > 32) {
        // A "extension" this long is part of the name; keep the name whole.
        stem = NameText;
        ext.clear();
    }
    return FindFreePath(State().DestFolder + kKinds[kind].folder, html ? file + " - " + stem : file, ext, problem);
}

std::string FindFreePath(const std::string& folder, const std::string& whole, const std::string& ext,
                         FileError& problem) {
    problem = {};
    FolderNames* names = NamesOf(folder);
    unsigned* remembered = nullptr;
    if (names) {
        auto [it, added] = names->next.try_emplace(whole + '/' + ext, 1u);
        State().RememberedNames += added;
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

std::string IndexLine(const std::string& Path, int Kind, const std::string& NameText) {
    return IndexSafe(platform::PathFindFileNameA(Path)) + " - SOURCE FILE = " + IndexSafe(State().SourceFile) +
           " RESOURCE TYPE = " + TypeTextOf(Kind) + " RESOURCE NAME = " + IndexSafe(NameText) + "\r\n";
}

FileError WriteIndexEntry(const std::string& Path, int Kind, const std::string& NameText) {
    const std::string index = GetFolderPath(Path) + platform::kPathSep + kIndexFileName;
    return platform::AppendLine(index, IndexLine(Path, Kind, NameText));
}

}  // namespace engine
