#include "engine/mResCore.h"

#include <algorithm>
#include <string_view>

#include "engine/EngineInternal.h"
#include "platform/MessageBox.h"
#include "platform/PathUtil.h"

namespace engine {

using platform::FileError;
using platform::HMODULE;
using platform::ResId;

namespace {

EngineState g_state;

// An exclusive create that keeps meeting new files gives up after this many
// names, so a hostile or broken folder cannot make the scan spin.
constexpr int kMaxNameRetries = 1000;

bool IsBlank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

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
    if (kind < 0 || !State().Types[kind]) return -1;
    return kind;
}


// Lets the owner paint between two resources; true when it asked to stop.
bool OwnerStops() {
    if (State().Owner) State().Owner->Idle(State().Cancel);
    return State().Cancel != kFalse;
}

// Whatever way a resource's write ends, the folder's new time is our own.
struct OwnWriteNote {
    std::string folder;
    ~OwnWriteNote() { NoteOwnWrite(folder); }
};

}  // namespace

EngineState& State() { return g_state; }

int LastReadError() { return g_state.ReadError; }

namespace {
bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}
}  // namespace

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

void RecordError(const FileError& e) {
    g_state.LastError = e.number;
    g_state.LastErrorDescription = e.description;
}

// A file error as the user sees it: the design's description, then the path.
void RecordError(const FileError& e, const std::string& path) {
    RecordError(e);
    if (!path.empty()) g_state.LastErrorDescription += ": " + path;
}

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
    g_state.OutputLimit = std::max<uint64_t>(kMinOutputLimit, platform::ModuleFileSize(module) * 16);
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

}  // namespace engine
