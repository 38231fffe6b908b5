// The wizard's options kept between runs: read once at load, written at close,
// in HKEY_LOCAL_MACHINE\Software\Brackwater\Loomvale.
#pragma once

#include <cstdint>
#include <string>

#include "engine/ResTypes.h"
#include "registry/Variant.h"

namespace wizard {

class frmMain;

// A reference to a form field together with its kind (Booleans and 16-bit
// integers share one C++ type).
struct SettingRef {
    enum class Kind { Boolean, Integer, Text };
    Kind kind;
    std::int16_t* number = nullptr;
    std::string* text = nullptr;
    static SettingRef Bool(engine::VBBool& f) { return {Kind::Boolean, &f, nullptr}; }
    static SettingRef Integer(std::int16_t& f) { return {Kind::Integer, &f, nullptr}; }
    static SettingRef Text(std::string& f) { return {Kind::Text, nullptr, &f}; }
};

void LoadSettings(frmMain& form);
// Writes the settings as one change of the store. A registry error is shown
// as a message box, or on standard error while the program ends on a signal
// or with the session, and nothing is written.
enum class SaveErrors { Box, StandardError };
void SaveSettings(frmMain& form, SaveErrors errors = SaveErrors::Box);
// Says once, in a box, each damaged settings file set aside while loading.
void ShowSetAsideStores();
// True when the settings key exists; then the field holds the value (a value
// missing from the key gives False, empty text or 0).
bool ReadSetting(const std::string& ValueName, SettingRef Setting);
// Booleans are stored as 1 and 0, numbers as REG_DWORD, texts as REG_SZ.
void WriteSetting(const std::string& ValueName, const registry::Variant& Setting);
std::string GetSystemDir();
std::string GetMyDocumentsPath();

}  // namespace wizard
