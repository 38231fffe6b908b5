#include "wizard/mSettings.h"

#include "platform/store/Environment.h"
#include "platform/system/MessageBox.h"
#include "platform/fs/PathUtil.h"
#include "platform/store/RegFile.h"
#include "platform/store/RegistryStore.h"
#include "registry/cRegistry.h"
#include "wizard/frmMain.h"

#include <QStandardPaths>

namespace wizard {

namespace {

constexpr const char* kSettingsKey = "Software\\Brackwater\\Loomvale";
constexpr const char* kDefaultMask = "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx";
constexpr const char* kTypeNames[engine::kResKindCount] = {"ResTypesBitmap",    "ResTypesIcon",  "ResTypesCursor",
                                                           "ResTypesAniCursor", "ResTypesVideo", "ResTypesHTML"};

registry::cRegistry SettingsKey(const std::string& valueName) {
    registry::cRegistry reg;
    reg.ClassKey(static_cast<std::int32_t>(platform::HKEY_LOCAL_MACHINE));
    reg.SectionKey(kSettingsKey);
    reg.ValueKey(valueName);
    return reg;
}

void ReadOrDefault(const std::string& name, engine::VBBool& field, engine::VBBool def) {
    if (!ReadSetting(name, SettingRef::Bool(field))) field = def;
}

}  // namespace

bool ReadSetting(const std::string& ValueName, SettingRef Setting) {
    registry::cRegistry reg = SettingsKey(ValueName);
    if (!reg.KeyExists()) return false;
    const registry::Variant v = reg.Value();
    // A value of the wrong kind (edited by hand) counts as missing rather
    // than stopping the program at start.
    switch (Setting.kind) {
    case SettingRef::Kind::Boolean: {
        auto b = v.ToBool();
        if (!b) return false;
        *Setting.number = *b ? engine::kTrue : engine::kFalse;
        return true;
    }
    case SettingRef::Kind::Integer: {
        auto n = v.ToInt16();
        if (!n) return false;
        *Setting.number = *n;
        return true;
    }
    case SettingRef::Kind::Text: *Setting.text = v.ToText(); return true;
    }
    return false;
}

void WriteSetting(const std::string& ValueName, const registry::Variant& Setting) {
    registry::cRegistry reg = SettingsKey(ValueName);
    if (!reg.KeyExists()) reg.CreateKey();
    switch (Setting.kind()) {
    case registry::Variant::Kind::Integer:
    case registry::Variant::Kind::Long:
        reg.ValueType(platform::REG_DWORD);
        reg.Value(registry::Variant(Setting.AsLong()));
        break;
    case registry::Variant::Kind::String:
        reg.ValueType(platform::REG_SZ);
        reg.Value(Setting);
        break;
    case registry::Variant::Kind::Boolean:
        reg.ValueType(platform::REG_DWORD);
        reg.Value(registry::Variant(std::int32_t{Setting.AsBool() ? 1 : 0}));
        break;
    default: break;
    }
}

std::string GetSystemDir() { return platform::GetSystemDirectoryA(); }

std::string GetMyDocumentsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
}

void LoadSettings(frmMain& form) {
    ReadOrDefault("SearchSystem", form.SearchSystem, engine::kTrue);
    if (!ReadSetting("Folder", SettingRef::Text(form.FolderPath))) form.FolderPath = GetSystemDir();
    ReadOrDefault("SubFolders", form.SubFolders, engine::kTrue);
    if (!ReadSetting("Mask", SettingRef::Text(form.FileMask))) form.FileMask = kDefaultMask;
    for (int k = 0; k < engine::kResKindCount; ++k) ReadOrDefault(kTypeNames[k], form.Types[k], engine::kTrue);
    if (!ReadSetting("DestPath", SettingRef::Text(form.DestPath)))
        form.DestPath = platform::AddBackslash(GetMyDocumentsPath()) + "Resources";
    if (!ReadSetting("Priority", SettingRef::Integer(form.Priority))) form.Priority = 3;
    ReadOrDefault("WriteGallery", form.WriteGallery, engine::kFalse);
}

void SaveSettings(frmMain& form, SaveErrors errors) {
    // The thirteen values go in as one change of the store: two windows closed
    // together leave one window's settings, never a mix.
    platform::StoreBatch batch(platform::HKEY_LOCAL_MACHINE, platform::RegScope{kSettingsKey});
    try {
        WriteSetting("SearchSystem", registry::Variant(form.SearchSystem != engine::kFalse));
        WriteSetting("Folder", registry::Variant(form.FolderPath));
        WriteSetting("SubFolders", registry::Variant(form.SubFolders != engine::kFalse));
        WriteSetting("Mask", registry::Variant(form.FileMask));
        for (int k = 0; k < engine::kResKindCount; ++k)
            WriteSetting(kTypeNames[k], registry::Variant(form.Types[k] != engine::kFalse));
        WriteSetting("DestPath", registry::Variant(form.DestPath));
        WriteSetting("Priority", registry::Variant(form.Priority));
        WriteSetting("WriteGallery", registry::Variant(form.WriteGallery != engine::kFalse));
        if (batch.Commit() != platform::ERROR_SUCCESS)
            throw registry::RegistryError(registry::kErrRegistry, std::string("Failed to save registry Key: '") +
                                                                      kSettingsKey + "' in " + platform::RegistryFolder());
    } catch (const registry::RegistryError& e) {
        // Nothing is written; the program is ending anyway.
        const std::string text = "Run-time error '" + std::to_string(e.Number) + "':\r\n\r\n" + e.Description;
        if (errors == SaveErrors::Box) {
            platform::MsgBox(text, platform::MsgButtons::OK, platform::MsgIcon::Critical);
        } else {
            // Ending on a signal or with the session: no one is there to click.
            platform::StderrMessageBox().Show(text, platform::MsgButtons::OK, platform::MsgIcon::Critical);
        }
    }
}

void ShowSetAsideStores() {
    for (const std::string& aside : platform::TakeSetAsideNotices())
        platform::MsgBox("The settings file could not be read. It was kept as\r\n" + aside +
                             "\r\nand the default settings are used.",
                         platform::MsgButtons::OK, platform::MsgIcon::Exclamation);
}

}  // namespace wizard
