#include "engine/mResCore.h"

#include <algorithm>
#include <string_view>

#include "engine/EngineInternal.h"
#include "platform/system/MessageBox.h"
#include "platform/fs/PathUtil.h"

namespace engine {

using platform::FileError;
using platform::HMODULE;
using platform::ResId;

namespace {

EngineState g_state;


bool IsBlank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

// The kind of a selected enumerated type, -1 when not selected.
int SelectedKind(const ResId& type) {
    const int kind = KindOfType(type);
    return kind >= 0 && State().Types[kind] ? kind : -1;
}

// Lets the owner paint between two resources; true when it asked to stop.
bool OwnerStops() {
    if (State().Owner) State().Owner->Idle(State().Cancel);
    return State().Cancel != kFalse;
}

// After a write into folder, its new time is noted as our own.
struct OwnWriteNote {
    std::string folder;
    ~OwnWriteNote() { NoteOwnWrite(folder); }
};

}  // namespace

EngineState& State() { return g_state; }

int LastReadError() { return g_state.ReadError; }

void SetPngImages(bool on) {
    g_state.PngImages = on;
    g_state.Pngs = {};
}

const PngTally& PngImagesTally() { return g_state.Pngs; }

int KindOfType(const ResId& type) {
    for (int k = 0; k < kResKindCount; ++k) {
        const KindInfo& info = kKinds[k];
        if (type.IsIntResource() ? !info.typeName && type.id == static_cast<uint16_t>(info.type)
                                 : info.typeName && type.name == info.typeName)
            return k;
    }
    return -1;
}

ResId TypeOfKind(int kind) {
    const KindInfo& info = kKinds[kind];
    return info.typeName ? ResId::Str(info.typeName) : ResId::Type(info.type);
}

std::string TypeTextOf(int kind) {
    const KindInfo& info = kKinds[kind];
    return info.typeName ? info.typeName : std::to_string(static_cast<uint16_t>(info.type));
}

std::string TextOf(const ResId& id) { return id.IsIntResource() ? std::to_string(id.id) : id.name; }

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
    const int kind = SelectedKind(Type);
    // Our own copy of the type, as the enumeration's may not outlive it; the
    // kind rides along in the enumeration's parameter.
    if (kind >= 0) platform::EnumResourceNamesA(hModule, TypeOfKind(kind), EnumResNameProc, kind);
    return g_state.LastError == 0 && !g_state.Cancel;
}

bool EnumResNameProc(HMODULE hModule, const ResId&, const ResId& Name, intptr_t Kind) {
    if (OwnerStops()) return false;
    int32_t kind = static_cast<int32_t>(Kind);
    const bool ok = SaveResource(hModule, kind, Name);
    if (ok && g_state.Owner) {
        ResName value = Name.IsIntResource() ? ResName(static_cast<int32_t>(Name.id)) : ResName(Name.name);
        g_state.Owner->ResFound(kind, value);
    }
    return g_state.LastError == 0;
}

bool SaveResource(HMODULE hModule, int Kind, const ResId& Name) {
    const std::string NameText = TextOf(Name);
    // Whatever way the write ends, the folder's new time is our own.
    const OwnWriteNote note{g_state.DestFolder + kKinds[Kind].folder};
    const auto choose = [&](FileError& problem) { return FindOutputPath(Kind, NameText, problem); };
    const auto write = [&](const std::string& path) {
        switch (Kind) {
        case RES_BITMAP: return SaveBitmap(hModule, path, Name);
        case RES_CURSOR: return SaveCursorGroup(hModule, path, Name);
        case RES_ICON: return SaveIconGroup(hModule, path, Name);
        default: return SaveRawResource(hModule, path, Kind, Name);
        }
    };
    std::string path;
    if (!WriteListed(choose, write, Kind, NameText, path)) return false;
    if (g_state.PngImages && (Kind == RES_BITMAP || Kind == RES_ICON || Kind == RES_CURSOR))
        WritePngImages(path, Kind, NameText);
    return true;
}

bool WriteListed(const std::function<std::string(FileError&)>& choose,
                 const std::function<bool(const std::string&)>& write, int Kind, const std::string& NameText,
                 std::string& path) {
    FileError problem;
    path = choose(problem);
    int renames = 0;
    for (;;) {
        g_state.LastError = 0;
        g_state.LastErrorDescription.clear();
        g_state.CreatedPath.clear();
        bool ok = false;
        if (problem.number)
            RecordError(problem, path);
        else
            ok = write(path);

        if (g_state.LastError == 0) {
            // A refused resource leaves nothing: an index line would name a
            // file that does not exist, or the file the next resource takes.
            if (!ok) {
                // Data that could not be read in full is an error of the
                // file, not a resource to pass over.
                if (SourceChanged()) ShowWriteError();
                return false;
            }
            // The file is complete; its index line follows. A file that
            // cannot be listed is taken away again: every file in the folder
            // has its line. The error names the index.
            FileError e = WriteIndexEntry(path, Kind, NameText);
            while (e.number == platform::kErrDiskFull) {
                if (platform::MsgBox(kDiskFullPrompt, platform::MsgButtons::RetryCancel,
                                     platform::MsgIcon::Critical) != platform::MsgResult::Retry)
                    break;
                e = WriteIndexEntry(path, Kind, NameText);
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
            path = choose(problem);
            continue;
        }

        // Nothing of a failed write is left at the name (it was never named).
        if (g_state.LastError == platform::kErrDiskFull) {
            if (platform::MsgBox(kDiskFullPrompt, platform::MsgButtons::RetryCancel,
                                 platform::MsgIcon::Critical) == platform::MsgResult::Retry)
                continue;
            return false;
        }
        ShowWriteError();
        return false;
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
